// Every job answers a request without its string parameter with an empty result (no value)
// rather than reading a parameter that is not there. A stream sent along with a request is
// released at once: no job of this demo reads streams.
//
// Each job also re-checks the master's address: the access check is installed for a master
// when its connect event reaches the event callback, and a request that the slave accepted
// before that ran without a check. A master on another host therefore never gets a value.
#include "slave_demo/slave_jobs.hpp"

#include <cstring>
#include <optional>
#include <string>

#include "binding/orvex_api.hpp"
#include "common/checksums.hpp"
#include "common/display_text.hpp"
#include "common/md5.hpp"
#include "logo/logo.hpp"

namespace orvex::demo {
namespace {

bool FromLocalHost(OrvexSlave* slave, int32_t master) {
    return IsLocalHostAddress(TheApi().Orvex_Slave_GetMasterIP(slave, master));
}

void ReleaseStream(OrvexSlave* slave, OrvexReceivedStream* stream) {
    if (stream != nullptr) TheApi().Orvex_Slave_FreeStream(slave, stream);
}

// The text of the first parameter: size - 1 bytes of its value (the string's bytes without
// the terminator). Nothing when the request carried no parameter.
std::optional<std::string> TakeText(OrvexParameterList* params) {
    if (params == nullptr) return std::nullopt;
    OrvexParameterElement* element = TheApi().Orvex_Parameter_GetMem(params);
    if (element == nullptr) return std::nullopt;
    std::string text;
    if (element->value != nullptr && element->size > 1) {
        text.assign(static_cast<const char*>(element->value), size_t(element->size - 1));
    }
    TheApi().Orvex_FreeMemory(element->value);
    TheApi().Orvex_FreeMemory(element);
    return text;
}

// The text parameter of a request that may run, or nothing.
std::optional<std::string> JobText(OrvexSlave* slave, int32_t master, OrvexParameterList* params,
                                   OrvexReceivedStream* stream) {
    ReleaseStream(slave, stream);
    if (!FromLocalHost(slave, master)) return std::nullopt;
    return TakeText(params);
}

}  // namespace

OrvexReturnValue* ORVEX_CALL CrcTextJob(OrvexSlave* slave, int32_t master, int32_t,
                                        OrvexParameterList* params, OrvexReceivedStream* stream) {
    const auto text = JobText(slave, master, params, stream);
    if (!text) return nullptr;
    return TheApi().Orvex_Return_Long(Crc32Of(*text));
}

OrvexReturnValue* ORVEX_CALL Md5TextJob(OrvexSlave* slave, int32_t master, int32_t,
                                        OrvexParameterList* params, OrvexReceivedStream* stream) {
    const auto text = JobText(slave, master, params, stream);
    if (!text) return nullptr;
    return TheApi().Orvex_Return_String(Md5Hex(*text).c_str());
}

OrvexReturnValue* ORVEX_CALL GetLogoJob(OrvexSlave* slave, int32_t master, int32_t,
                                        OrvexParameterList*, OrvexReceivedStream* stream) {
    ReleaseStream(slave, stream);
    if (!FromLocalHost(slave, master)) return nullptr;
    const auto logo = LogoJpeg();
    const int32_t size = int32_t(logo.size());
    void* memory = TheApi().Orvex_AllocateMemory(size);
    if (memory == nullptr) return nullptr;
    std::memcpy(memory, logo.data(), logo.size());
    return TheApi().Orvex_Return_Memory(memory, size);  // takes the memory over
}

int32_t ORVEX_CALL SlaveDemoAccessCheck(OrvexSlave* slave, int32_t master,
                                        const OrvexChar* jobName) {
    if (!FromLocalHost(slave, master)) return 0;
    if (jobName == nullptr || std::strcmp(jobName, "GetLogo") == 0) return 0;
    return 1;
}

}  // namespace orvex::demo
