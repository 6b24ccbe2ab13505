#include "platform/text/DateText.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace platform {
namespace {

using namespace std::chrono;

constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads exactly `count` digits at `at` and moves past them.
bool readNumber(std::string_view text, std::size_t& at, std::size_t count, int& value)
{
    if (text.size() - at < count)
        return false;
    value = 0;
    for (std::size_t end = at + count; at < end; ++at) {
        if (text[at] < '0' || text[at] > '9')
            return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

bool readLiteral(std::string_view text, std::size_t& at, std::string_view literal)
{
    if (text.substr(at, literal.size()) != literal)
        return false;
    at += literal.size();
    return true;
}

template <std::size_t N>
int readName(std::string_view text, std::size_t& at, const std::array<const char*, N>& names)
{
    for (std::size_t i = 0; i < N; ++i)
        if (readLiteral(text, at, names[i]))
            return static_cast<int>(i);
    return -1;
}

// Splits a time into whole seconds (floored) and the fraction below them.
void split(DateText::TimePoint time, std::time_t& seconds, long& tenthsOfMilliseconds)
{
    auto whole = floor<std::chrono::seconds>(time);
    seconds = system_clock::to_time_t(DateText::TimePoint{whole});
    tenthsOfMilliseconds = static_cast<long>(duration_cast<microseconds>(time - whole).count() / 100);
}

// The clock counts in nanoseconds and holds some 292 years either side of 1970; a text naming a time
// beyond that is no time we could hold, so it reads as nothing rather than as a wrapped-around one.
std::optional<DateText::TimePoint> clockTime(std::time_t seconds)
{
    using Seconds = std::chrono::seconds;
    constexpr auto kFirst = duration_cast<Seconds>(DateText::TimePoint::min().time_since_epoch()).count() + 1;
    constexpr auto kLast = duration_cast<Seconds>(DateText::TimePoint::max().time_since_epoch()).count() - 1;
    if (seconds < kFirst || seconds > kLast)
        return std::nullopt;
    return system_clock::from_time_t(seconds);
}

bool sameFields(const std::tm& a, const std::tm& b)
{
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

}  // namespace

std::string DateText::formatStamp(TimePoint time)
{
    std::time_t seconds;
    long fraction;
    split(time, seconds, fraction);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[48];
    std::snprintf(text, sizeof text, "%04d%02d%02d_%02d:%02d:%02d.%04ld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, fraction % 10000);
    return text;
}

std::optional<DateText::TimePoint> DateText::parseStamp(std::string_view text)
{
    std::size_t at = 0;
    int year, month, day, hour, minute, second, fraction;
    if (!(readNumber(text, at, 4, year) && readNumber(text, at, 2, month) && readNumber(text, at, 2, day) &&
          readLiteral(text, at, "_") && readNumber(text, at, 2, hour) && readLiteral(text, at, ":") &&
          readNumber(text, at, 2, minute) && readLiteral(text, at, ":") && readNumber(text, at, 2, second) &&
          readLiteral(text, at, ".") && readNumber(text, at, 4, fraction) && at == text.size()))
        return std::nullopt;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    std::tm wanted = fields;
    std::time_t seconds = std::mktime(&fields);
    // mktime moves 31 February on to March; such a text is not a date. (A wall time skipped by a
    // daylight-saving change also moves, and is refused the same way.)
    if (seconds == static_cast<std::time_t>(-1) || !sameFields(fields, wanted))
        return std::nullopt;
    const auto time = clockTime(seconds);
    if (!time)
        return std::nullopt;
    return *time + microseconds(fraction * 100);
}

std::string DateText::formatHttpDate(TimePoint time)
{
    std::time_t seconds;
    long fraction;
    split(time, seconds, fraction);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[48];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[static_cast<std::size_t>(utc.tm_wday)],
                  utc.tm_mday, kMonths[static_cast<std::size_t>(utc.tm_mon)], utc.tm_year + 1900, utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    return text;
}

std::optional<DateText::TimePoint> DateText::parseHttpDate(std::string_view text)
{
    std::size_t at = 0;
    int weekday = readName(text, at, kDays);
    int day, month, year, hour, minute, second;
    if (weekday < 0 || !readLiteral(text, at, ", ") || !readNumber(text, at, 2, day) || !readLiteral(text, at, " "))
        return std::nullopt;
    month = readName(text, at, kMonths);
    if (month < 0 || !(readLiteral(text, at, " ") && readNumber(text, at, 4, year) && readLiteral(text, at, " ") &&
                       readNumber(text, at, 2, hour) && readLiteral(text, at, ":") && readNumber(text, at, 2, minute) &&
                       readLiteral(text, at, ":") && readNumber(text, at, 2, second) &&
                       readLiteral(text, at, " GMT") && at == text.size()))
        return std::nullopt;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    std::tm wanted = fields;
    std::time_t seconds = ::timegm(&fields);
    if (!sameFields(fields, wanted) || fields.tm_wday != weekday)
        return std::nullopt;
    return clockTime(seconds);
}

}  // namespace platform
