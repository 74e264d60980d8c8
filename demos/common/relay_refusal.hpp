// The relay handler of the demos. Orvex_Master_Init needs one; the demos expect no relayed
// streams, so this handler refuses every one that arrives.
#pragma once

#include "Orvex.h"

namespace orvex::demo {

// Sets the stream's cancel request, so that the receiving master acknowledges the next block
// with the cancel word and the sender gives up with "stream canceled by other side". Then,
// when the process's table binds Orvex_Master_FreeStream (the stream test's does not:
// Orvex_Master_DeInit frees the stream there), waits until the stream has left the receiving
// state, at most 10 seconds or until StopRefusingRelayedStreams, and frees it. Touches
// nothing else, so a relayed stream cannot disturb the demo.
int32_t ORVEX_CALL RefuseRelayedStream(OrvexMaster* master, int32_t slave, int32_t streamId,
                                       const OrvexChar* jobName, OrvexParameterList* params,
                                       OrvexReceivedStream* stream);

// Ends the waits of running handlers at once (before Orvex_Master_DeInit, which waits for
// them); streams still being received are then freed as they are.
void StopRefusingRelayedStreams();

}  // namespace orvex::demo
