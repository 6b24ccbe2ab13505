#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The answer of a check over the files a drag from another program carries, taken once per entry of the
// drag into a view: moving over the view reads none of the files a second time. The view forgets it at
// each entry, leave and drop, since nothing tells a drag that comes back from a new drag of the same
// files, and those may have become patches, or stopped being ones, meanwhile.
class DroppedFilesCheck {
public:
    using Check = std::function<std::int64_t(const std::vector<std::string>& paths)>;

    std::int64_t answer(const std::vector<std::string>& paths, const Check& check)
    {
        if (!checked_ || paths != paths_) {
            paths_ = paths;
            answer_ = check(paths_);
            checked_ = true;
        }
        return answer_;
    }
    // The drag has left or ended: its files may change before the next one.
    void forget()
    {
        checked_ = false;
        paths_.clear();
    }

private:
    std::vector<std::string> paths_;
    std::int64_t answer_ = 0;
    bool checked_ = false;
};
