#include "common/log_line.hpp"

#include <cstdio>

namespace orvex::demo {

std::string LogLineAt(const std::tm& localTime, std::string_view message) {
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d] ", localTime.tm_hour % 100,
                  localTime.tm_min % 100, localTime.tm_sec % 100);
    std::string line(stamp);
    line.append(message);
    return line;
}

std::string LogLine(std::string_view message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LogLineAt(local, message);
}

}  // namespace orvex::demo
