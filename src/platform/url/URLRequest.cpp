#include "platform/url/URLRequest.h"

#include <algorithm>
#include <strings.h>

namespace platform {

void URLRequest::setValue(const std::string& value, const std::string& field)
{
    std::erase_if(headerFields, [&](const auto& entry) { return strcasecmp(entry.first.c_str(), field.c_str()) == 0; });
    if (!value.empty()) headerFields.emplace_back(field, value);
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const
{
    for (const auto& [name, value] : headerFields)
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    return std::nullopt;
}

std::string URLRequest::host() const
{
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return {};
    std::string rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
    if (!rest.empty() && rest.front() == '[') return rest.substr(0, rest.find(']') + 1);
    return rest.substr(0, rest.find(':'));
}

}  // namespace platform
