#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Null-safe string tests and the path-component edits of the coordinator and the local file store.
// A path's components are its parts between slashes; an absolute path's leading "/" is a component of
// its own, and repeated or trailing slashes add none. Results are components joined with "/", so a
// result that keeps the leading "/" begins with two slashes ("//x/f"): callers compare and split such
// paths by component, never by text.
class NSStringAddition {
public:
    // A null or empty string; a string of spaces is not blank.
    static bool isBlankString(std::optional<std::string_view> string);
    static bool isNotBlankString(std::optional<std::string_view> string);
    // Null, empty, or spaces only.
    static bool isBlankCharacterString(std::optional<std::string_view> string);
    // Both present and `other` occurs in `receiver`; an empty `other` never occurs.
    static bool containsString(std::optional<std::string_view> receiver, std::optional<std::string_view> other);

    static std::vector<std::string> pathComponents(std::string_view path);
    static std::string joinComponents(const std::vector<std::string>& components);

    // Drops a leading "/" and then the first component (a single remaining component stays).
    static std::string stringByDeletingFirstComponent(const std::string& receiver);
    // Removes the run of as many components as `path` has, starting where its first component first
    // occurs (only that first component is compared).
    static std::string stringByDeletingPathComponent(const std::string& receiver, const std::string& path);
    // The components from the first occurrence of `component` to the end.
    static std::string stringByDeletingFromPathComponent(const std::string& receiver, const std::string& component);
    // The components before the first occurrence of `component`.
    static std::string stringByDeletingToPathComponent(const std::string& receiver, const std::string& component);
    // Overwrites (or, when `newPath` is blank, removes) the run of components matching `oldPath`: the
    // first full occurrence, or the last occurrence when `oldPath` is a single component.
    static std::string stringByReplacingOccurrencesOfComponent(const std::string& receiver, const std::string& oldPath,
                                                               const std::string& newPath);
    static bool isEqualToPath(const std::string& receiver, const std::string& path);
};
