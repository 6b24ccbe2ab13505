#pragma once

namespace platform {

// A property-list date: seconds since 2001-01-01 00:00:00 UTC, the reference both plist formats count from.
struct PlistDate {
    // Seconds between the Unix epoch and the plist reference date.
    static constexpr double kUnixOffset = 978307200.0;

    double sinceReference = 0;

    static PlistDate fromUnixSeconds(double unixSeconds) { return PlistDate{unixSeconds - kUnixOffset}; }
    double unixSeconds() const { return sinceReference + kUnixOffset; }

    bool operator==(const PlistDate&) const = default;
};

}  // namespace platform
