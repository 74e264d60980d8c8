// The line format of the demo logs: "[hh:mm:ss] message" in local time.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace orvex::demo {

// The log line for message at the given local time.
std::string LogLineAt(const std::tm& localTime, std::string_view message);

// The log line for message now.
std::string LogLine(std::string_view message);

}  // namespace orvex::demo
