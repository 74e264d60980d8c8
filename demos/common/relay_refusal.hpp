// The relay handler of the demos. Orvex_Master_Init needs one; the demos expect no relayed
// streams, so this handler refuses every one that arrives.
#pragma once

#include "Orvex.h"

namespace orvex::demo {

// Asks the sender to stop (cancel request: the next block is acknowledged with the cancel
// word, and the sender gives up), then releases the stream with Orvex_Master_FreeStream when
// the process's table binds it (the stream test's table does not: Orvex_Master_DeInit frees
// it there). Touches nothing else, so a relayed stream cannot disturb the demo.
int32_t ORVEX_CALL RefuseRelayedStream(OrvexMaster* master, int32_t slave, int32_t streamId,
                                       const OrvexChar* jobName, OrvexParameterList* params,
                                       OrvexReceivedStream* stream);

}  // namespace orvex::demo
