#pragma once

#include <string>
#include <vector>

namespace platform {

// What a program tells servers about itself and its user: the user's languages in order of preference and
// the names and versions of the program and the system. Tests build their own instead of reading the process.
struct ProcessInfo {
    // Language tags as "de-DE" or "ja", most preferred first, without duplicates.
    std::vector<std::string> preferredLanguages;
    std::string executableName;
    std::string bundleIdentifier;
    std::string shortVersion;
    std::string bundleVersion;
    std::string operatingSystemVersion;

    // The running process: languages from LANGUAGE (when the locale is not C or POSIX), then LC_ALL,
    // LC_MESSAGES and LANG; the executable's file name; the kernel release.
    static ProcessInfo current();
    // "pt_BR.UTF-8@euro" -> "pt-BR"; empty for "C", "POSIX" and empty text.
    static std::string languageTag(const std::string& locale);
};

}  // namespace platform
