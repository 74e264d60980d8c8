// The jobs that the end-to-end slave offers.
//   Check      all parameter kinds (Integer -7, Long 123456789, Float 1.5, Double -2.25,
//              Quad 2^40, String "hello", Mem {1, 2, 3}) -> Integer 1 when all match, else 0
//   Give       Integer k -> a result of kind k (see GiveResult)
//   Add        Integer a, Integer b -> Integer a + b
//   Talk       sends the job messages "one" and "two", then returns Integer 2
//   StreamCrc  waits for its stream to end -> Integer CRC-32 of the data (or -state)
//   NoParams   -> Integer 1 when it got no parameter list
#pragma once

#include <cstdint>
#include <vector>

#include "Orvex.h"

namespace orvex::test {

void RegisterJobs(OrvexSlave* slave);

// The bytes that Give returns for kind k (0 Integer, 1 Long, 2 Float, 3 Double, 4 Quad,
// 5 String, 6 Memory of 16386 bytes, 7 nothing).
std::vector<uint8_t> GiveResult(int32_t kind);
inline constexpr int32_t kGiveKinds = 8;

}  // namespace orvex::test
