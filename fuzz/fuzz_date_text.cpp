// HTTP dates come from servers and stamps from files. Both readers take one exact form only, so a text
// they accept is exactly what the writer makes of the time they read; and any time the writer puts out
// reads back (stamps to their tenth of a millisecond, HTTP dates to the second).
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "platform/text/DateText.h"

using platform::DateText;
using fuzzinput::check;
using namespace std::chrono;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Local time without daylight-saving gaps, so every written stamp has one reading.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto time = DateText::parseStamp(text))
        check(DateText::formatStamp(*time) == text, "an accepted stamp writes back differently");
    if (auto time = DateText::parseHttpDate(text))
        check(DateText::formatHttpDate(*time) == text, "an accepted HTTP date writes back differently");

    if (size >= 8) {
        std::int64_t raw;
        std::memcpy(&raw, data, sizeof raw);
        // Any time the clock holds: some 292 years either side of 1970.
        constexpr std::int64_t kReach = 9'000'000'000LL * 10000;
        const std::int64_t tenths = -kReach + static_cast<std::int64_t>(static_cast<std::uint64_t>(raw) %
                                                                       static_cast<std::uint64_t>(2 * kReach));
        const DateText::TimePoint time{duration_cast<system_clock::duration>(microseconds(tenths * 100))};
        check(DateText::parseStamp(DateText::formatStamp(time)) == time, "a written stamp does not read back");
        check(DateText::parseHttpDate(DateText::formatHttpDate(time)) == floor<seconds>(time),
              "a written HTTP date does not read back");
    }
    return 0;
}
