// The slave demo's jobs and its job access check, called by the library on its workers.
// They read only the process's binding table, no demo state.
#pragma once

#include "Orvex.h"

namespace orvex::demo {

// "CRC_Text": the CRC-32 of the string parameter's text, as a 32-bit integer result.
OrvexReturnValue* ORVEX_CALL CrcTextJob(OrvexSlave* slave, int32_t master, int32_t jobId,
                                        OrvexParameterList* params, OrvexReceivedStream* stream);
// "MD5_Text": the MD5 of the string parameter's text as 32 lowercase hexadecimal digits.
OrvexReturnValue* ORVEX_CALL Md5TextJob(OrvexSlave* slave, int32_t master, int32_t jobId,
                                        OrvexParameterList* params, OrvexReceivedStream* stream);
// "GetLogo": a copy of the embedded JPEG logo.
OrvexReturnValue* ORVEX_CALL GetLogoJob(OrvexSlave* slave, int32_t master, int32_t jobId,
                                        OrvexParameterList* params, OrvexReceivedStream* stream);

// 1 lets the job run: only masters on 127.0.0.1, and no job named exactly "GetLogo".
int32_t ORVEX_CALL SlaveDemoAccessCheck(OrvexSlave* slave, int32_t master,
                                        const OrvexChar* jobName);

}  // namespace orvex::demo
