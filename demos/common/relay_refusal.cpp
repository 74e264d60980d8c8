#include "common/relay_refusal.hpp"

#include <atomic>

#include "binding/orvex_api.hpp"

namespace orvex::demo {

int32_t ORVEX_CALL RefuseRelayedStream(OrvexMaster* master, int32_t, int32_t, const OrvexChar*,
                                       OrvexParameterList*, OrvexReceivedStream* stream) {
    if (stream == nullptr) return 0;
    // The receive batch reads the field from another thread.
    std::atomic_ref<int32_t>(stream->cancelRequest).store(1);
    if (TheApi().Orvex_Master_FreeStream != nullptr)
        TheApi().Orvex_Master_FreeStream(master, stream);
    return 0;
}

}  // namespace orvex::demo
