#include "common/NSStringAddition.h"

#include <algorithm>
#include <cstdint>

#include "common/NSArrayAddition.h"
#include "platform/text/Utf8.h"

namespace {

using Components = std::vector<std::string>;

std::int32_t indexOf(const Components& components, const std::string& component)
{
    const auto found = std::find(components.begin(), components.end(), component);
    return found == components.end() ? -1 : static_cast<std::int32_t>(found - components.begin());
}

}  // namespace

bool NSStringAddition::isBlankString(std::optional<std::string_view> string)
{
    return !string || string->empty();
}

bool NSStringAddition::isNotBlankString(std::optional<std::string_view> string)
{
    return !isBlankString(string);
}

bool NSStringAddition::isBlankCharacterString(std::optional<std::string_view> string)
{
    return !string || string->find_first_not_of(' ') == std::string_view::npos;
}

bool NSStringAddition::containsString(std::optional<std::string_view> receiver, std::optional<std::string_view> other)
{
    return receiver && other && !other->empty() && receiver->find(*other) != std::string_view::npos;
}

std::vector<std::string> NSStringAddition::pathComponents(std::string_view path)
{
    Components components;
    if (!path.empty() && path.front() == '/') components.emplace_back("/");
    std::size_t start = 0;
    while (start < path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) components.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

std::string NSStringAddition::joinComponents(const std::vector<std::string>& components)
{
    std::string joined;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) joined += '/';
        joined += components[i];
    }
    return joined;
}

std::string NSStringAddition::stringByDeletingFirstComponent(const std::string& receiver)
{
    Components components = pathComponents(receiver);
    if (!components.empty() && components.front() == "/") components.erase(components.begin());
    components = NSArrayAddition::arrayByRemovingFirstObject(components);
    return components.empty() ? receiver : joinComponents(components);
}

std::string NSStringAddition::stringByDeletingPathComponent(const std::string& receiver, const std::string& path)
{
    const Components components = pathComponents(receiver);
    const Components removed = pathComponents(path);
    const std::int32_t index = removed.empty() ? -1 : indexOf(components, removed.front());
    if (index < 0) return receiver;
    return joinComponents(NSArrayAddition::arrayByRemovingObjectAtIndex(components, index,
                                                                        static_cast<std::int32_t>(removed.size())));
}

std::string NSStringAddition::stringByDeletingFromPathComponent(const std::string& receiver,
                                                                const std::string& component)
{
    const Components components = pathComponents(receiver);
    const std::int32_t index = indexOf(components, component);
    if (index < 0) return receiver;
    return joinComponents(Components(components.begin() + index, components.end()));
}

std::string NSStringAddition::stringByDeletingToPathComponent(const std::string& receiver,
                                                              const std::string& component)
{
    const Components components = pathComponents(receiver);
    const std::int32_t index = indexOf(components, component);
    if (index <= 0) return receiver;
    return joinComponents(Components(components.begin(), components.begin() + index));
}

std::string NSStringAddition::stringByReplacingOccurrencesOfComponent(const std::string& receiver,
                                                                      const std::string& oldPath,
                                                                      const std::string& newPath)
{
    // Lengths in characters, counted as UTF-16 units.
    if (platform::Utf8::utf16Length(receiver) < platform::Utf8::utf16Length(oldPath)) return receiver;
    Components components = pathComponents(receiver);
    const Components oldComponents = pathComponents(oldPath);
    const Components newComponents = pathComponents(newPath);
    if (oldComponents.empty()) return receiver;

    // A single component: the last occurrence wins. Longer: the first full occurrence wins.
    std::optional<std::size_t> runStart;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (components[i] != oldComponents.front()) continue;
        if (oldComponents.size() == 1) {
            runStart = i;
            continue;
        }
        if (i + oldComponents.size() <= components.size()
            && std::equal(oldComponents.begin() + 1, oldComponents.end(), components.begin() + i + 1)) {
            runStart = i;
            break;
        }
    }
    if (!runStart) return receiver;

    const auto runBegin = components.begin() + static_cast<std::ptrdiff_t>(*runStart);
    const auto runLength = static_cast<std::ptrdiff_t>(oldComponents.size());
    if (isBlankString(newPath)) {
        components.erase(runBegin, runBegin + runLength);
    } else {
        // A shorter new path leaves the run's remaining old components; a longer one's extras are dropped.
        const auto overwrite = std::min(runLength, static_cast<std::ptrdiff_t>(newComponents.size()));
        std::copy(newComponents.begin(), newComponents.begin() + overwrite, runBegin);
    }
    return joinComponents(components);
}

bool NSStringAddition::isEqualToPath(const std::string& receiver, const std::string& path)
{
    return pathComponents(receiver) == pathComponents(path);
}
