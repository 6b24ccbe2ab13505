#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a drop from another program may hand on as file paths, without a widget. The drag source is not
// trusted: a file URL is decoded to the bytes it names (file names need not be UTF-8), and a drop is
// refused as a whole when any path could make the program open a file other than the one shown, or one
// of its own.
class DroppedPaths {
public:
    // The local paths of a "text/uri-list" (CR LF or LF lines, "#" comments skipped), in order. A URL that is
    // not a file URL, or names another host, is left out; percent escapes are decoded to bytes.
    static std::vector<std::string> localPathsOfUriList(std::string_view list);
    // The path of one file URL ("file:///p", "file://localhost/p", "file:/p", "file:p"); none for any other.
    static std::optional<std::string> localPathOfFileURL(std::string_view url);

    // Whether the drop is refused as a whole: a path that is not absolute, that holds a NUL or another
    // control character (the name checked would not be the file opened), or that lies in `ownFolder` once
    // the links of both are resolved, compared by whole folder components.
    static bool refusesDrop(const std::vector<std::string>& paths, const std::string& ownFolder);
    static bool holdsControlCharacter(std::string_view path);
    // `path` is `folder` or inside it, after resolving the links of both.
    static bool isInsideFolder(const std::string& path, const std::string& folder);
};
