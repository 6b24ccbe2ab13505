#include "platform/bundle/Localizer.h"

#include <cstdlib>

#include "platform/bundle/Bundle.h"

namespace platform {
namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string languageOf(const std::string& locale)
{
    return locale.rfind("ja", 0) == 0 && (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' ||
                                          locale[2] == '-' || locale[2] == '@')
               ? "ja"
               : "en";
}

}  // namespace

Localizer::Localizer(std::string language, StringsTable texts, StringsTable englishTexts)
    : language_(std::move(language)), texts_(std::move(texts)), englishTexts_(std::move(englishTexts))
{
}

Localizer Localizer::load(const Bundle& bundle, const std::string& language)
{
    StringsTable english = bundle.table(kTableName, "en").value_or(StringsTable());
    StringsTable own = language == "en" ? english : bundle.table(kTableName, language).value_or(StringsTable());
    return Localizer(language, std::move(own), std::move(english));
}

std::string Localizer::languageFromEnvironment()
{
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (locale = variable(name); !locale.empty())
            break;
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0)
        return languageOf(locale);
    std::string list = variable("LANGUAGE");
    std::string first = list.substr(0, list.find(':'));
    return languageOf(first.empty() ? locale : first);
}

std::string Localizer::text(const std::string& key) const
{
    if (auto value = texts_.value(key))
        return *value;
    if (auto value = englishTexts_.value(key))
        return *value;
    return key;
}

}  // namespace platform
