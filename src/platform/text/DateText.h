#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The two date texts the program writes and reads.
class DateText {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // "yyyyMMdd_HH:mm:ss.SSSS" in local time, the fraction cut (not rounded) to four digits:
    // "20240305_14:07:09.1234".
    static std::string formatStamp(TimePoint time);
    // The exact form above, read as local time; nothing for any other text or an impossible date.
    static std::optional<TimePoint> parseStamp(std::string_view text);

    // The HTTP date form: "Sun, 06 Nov 1994 08:49:37 GMT" (English names, always GMT, whole seconds).
    static std::string formatHttpDate(TimePoint time);
    static std::optional<TimePoint> parseHttpDate(std::string_view text);
};

}  // namespace platform
