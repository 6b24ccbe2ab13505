#include "platform/bundle/Configuration.h"

#include <charconv>
#include <cmath>
#include <algorithm>

#include "platform/bundle/Bundle.h"

namespace platform {
namespace {

enum class Range { Any, NotNegative, Positive };

struct Default {
    const char* key;
    const char* value;
    Range range;
};

// The same values ship in resources/Configuration.strings; these stand in when that file is damaged.
constexpr Default kDefaults[] = {
    {Configuration::kServerURLAllQFX, "https://catalogue.pexo-audio.example/rigmora/v1/effects.json", Range::Any},
    {Configuration::kServerURLAppVersion, "https://catalogue.pexo-audio.example/rigmora/v1/app-versions.json",
     Range::Any},
    {Configuration::kServerURLModelVersion, "https://catalogue.pexo-audio.example/rigmora/v1/model-versions.json",
     Range::Any},
    {Configuration::kServerVersionUpdateHistory_EN, "https://www.pexo-audio.example/en/rigmora/update-history",
     Range::Any},
    {Configuration::kServerVersionUpdateHistory_JP, "https://www.pexo-audio.example/ja/rigmora/update-history",
     Range::Any},
    {Configuration::kDownload_Time_Out, "60", Range::Positive},
    {Configuration::kDownload_Time_Limit, "900", Range::Positive},
    {Configuration::kTime_Out_Of_Checking_Server, "10", Range::Positive},
    {Configuration::kCommand_Time_Out, "3.0", Range::Positive},
    {Configuration::kTime_Of_Reload_Buffer_Data, "2", Range::Positive},
    {Configuration::kTime_Of_Retry, "3", Range::NotNegative},
};

const Default* findDefault(const std::string& key)
{
    for (const Default& entry : kDefaults)
        if (key == entry.key)
            return &entry;
    return nullptr;
}

bool inRange(double value, Range range)
{
    return range == Range::Any || (range == Range::NotNegative ? value >= 0 : value > 0);
}

std::string trimmed(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::optional<std::int64_t> readInteger(const std::string& text, Range range)
{
    std::string number = trimmed(text);
    std::int64_t value = 0;
    auto [end, failure] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || failure != std::errc() || end != number.data() + number.size() || !inRange(double(value), range))
        return std::nullopt;
    return value;
}

std::optional<double> readFloating(const std::string& text, Range range)
{
    std::string number = trimmed(text);
    if (number.empty())
        return std::nullopt;
    // from_chars reads "." as the decimal point whatever locale the interface has set.
    double value = 0;
    auto [end, failure] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (failure != std::errc() || end != number.data() + number.size() || !std::isfinite(value) ||
        !inRange(value, range))
        return std::nullopt;
    return value;
}

}  // namespace

Configuration Configuration::load(const Bundle& bundle)
{
    auto table = bundle.table(kTableName);
    return table ? Configuration(std::move(*table)) : Configuration();
}

std::optional<std::string> Configuration::defaultValue(const std::string& key)
{
    const Default* entry = findDefault(key);
    if (entry == nullptr)
        return std::nullopt;
    return std::string(entry->value);
}

std::string Configuration::string(const std::string& key) const
{
    if (auto value = table_.value(key))
        return *value;
    return defaultValue(key).value_or(key);
}

std::int64_t Configuration::integer(const std::string& key) const
{
    const Default* entry = findDefault(key);
    Range range = entry != nullptr ? entry->range : Range::Any;
    if (auto value = table_.value(key))
        if (auto number = readInteger(*value, range))
            return *number;
    if (entry != nullptr) {
        // A default written as a fraction still gives a whole number of at least one for a time-out.
        if (auto number = readInteger(entry->value, range))
            return *number;
        if (auto number = readFloating(entry->value, range))
            return std::max<std::int64_t>(static_cast<std::int64_t>(*number), range == Range::Positive ? 1 : 0);
    }
    return 0;
}

double Configuration::floating(const std::string& key) const
{
    const Default* entry = findDefault(key);
    Range range = entry != nullptr ? entry->range : Range::Any;
    if (auto value = table_.value(key))
        if (auto number = readFloating(*value, range))
            return *number;
    if (entry != nullptr)
        if (auto number = readFloating(entry->value, range))
            return *number;
    return 0;
}

}  // namespace platform
