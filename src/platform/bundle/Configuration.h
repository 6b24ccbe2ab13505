#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/bundle/StringsTable.h"

namespace platform {

class Bundle;

// The "Configuration" table: server addresses, time-outs and the retry count. Every known key has a
// compiled-in default that applies when the key is missing or its value does not read as the wanted type;
// a time-out never comes out as zero or negative (a zero command time-out would fire every watchdog at
// once), and a count never comes out negative.
class Configuration {
public:
    static constexpr const char* kTableName = "Configuration";

    static constexpr const char* kServerURLAllQFX = "kServerURLAllQFX";
    static constexpr const char* kServerURLAppVersion = "kServerURLAppVersion";
    static constexpr const char* kServerURLModelVersion = "kServerURLModelVersion";
    static constexpr const char* kServerVersionUpdateHistory_EN = "kServerVersionUpdateHistory_EN";
    static constexpr const char* kServerVersionUpdateHistory_JP = "kServerVersionUpdateHistory_JP";
    static constexpr const char* kDownload_Time_Out = "kDownload_Time_Out";                      // seconds
    static constexpr const char* kDownload_Time_Limit = "kDownload_Time_Limit";                  // seconds
    static constexpr const char* kTime_Out_Of_Checking_Server = "kTime_Out_Of_Checking_Server";  // seconds
    static constexpr const char* kCommand_Time_Out = "kCommand_Time_Out";                        // seconds
    static constexpr const char* kTime_Of_Reload_Buffer_Data = "kTime_Of_Reload_Buffer_Data";    // seconds
    static constexpr const char* kTime_Of_Retry = "kTime_Of_Retry";                              // a count

    Configuration() = default;  // defaults only
    explicit Configuration(StringsTable table) : table_(std::move(table)) {}
    // The bundle's table; with the table missing, the defaults.
    static Configuration load(const Bundle& bundle);

    // The value; else the key's default; for a key without one, the key itself.
    std::string string(const std::string& key) const;
    // The value when the whole text reads as a number in range; else the key's default; else 0.
    std::int64_t integer(const std::string& key) const;
    double floating(const std::string& key) const;

    // The compiled-in default text of a key, if it has one.
    static std::optional<std::string> defaultValue(const std::string& key);

private:
    StringsTable table_;
};

}  // namespace platform
