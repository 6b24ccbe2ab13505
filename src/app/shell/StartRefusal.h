#pragma once

#include <cstddef>
#include <memory>
#include <string>

class QMessageBox;

// The window that says why the program cannot start. A folder's path in it comes in lines the box can
// show: a path has no space to wrap at, and one with long folder names ran past the box's edge, hiding
// where the folder is.
class StartRefusal {
public:
    static constexpr std::size_t kLongestPathLine = 48;

    // `path` with a line break wherever a line would pass `longest` characters: after the line's last
    // "/" when it has one other than at its start, else between two whole characters of a name.
    static std::string pathInLines(const std::string& path, std::size_t longest = kLongestPathLine);
    // The box showing `text` as it is (a path may hold "<", which would start a mark-up).
    static std::unique_ptr<QMessageBox> box(const std::string& text);
};
