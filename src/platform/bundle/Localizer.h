#pragma once

#include <string>

#include "platform/bundle/StringsTable.h"

namespace platform {

class Bundle;

// The interface texts in the interface language. The program knows two languages: "ja", and "en" for
// every other locale. A key missing from the language's table falls back to the English text, and a key
// missing there too shows as the key itself.
class Localizer {
public:
    static constexpr const char* kTableName = "Localizable";

    Localizer(std::string language, StringsTable texts, StringsTable englishTexts);
    // The tables of `language` (as languageFromEnvironment() gives it unless a test chooses).
    static Localizer load(const Bundle& bundle, const std::string& language);
    static Localizer load(const Bundle& bundle) { return load(bundle, languageFromEnvironment()); }

    // "ja" when the locale that governs messages is Japanese, else "en". Like gettext: LANGUAGE's first
    // entry when the locale (LC_ALL, else LC_MESSAGES, else LANG) is set and is not "C" or "POSIX",
    // else that locale.
    static std::string languageFromEnvironment();

    const std::string& language() const { return language_; }
    std::string text(const std::string& key) const;

private:
    std::string language_;
    StringsTable texts_;
    StringsTable englishTexts_;
};

}  // namespace platform
