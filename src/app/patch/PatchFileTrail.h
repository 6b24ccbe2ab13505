#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

class PatchItem;

// Where the list's patches went when a merge of the unit's change gave them another file. The unit may
// change a patch again before the merged one reaches it: that change names the file the unit held, which
// the patch has left, and is still one of that patch. Main thread only.
class PatchFileTrail {
public:
    using Absolute = std::function<std::string(const std::string&)>;

    // `patch` left the file `former` for `now` (both absolute).
    void record(const std::string& former, const std::string& now, const std::shared_ptr<PatchItem>& patch);
    // The patch that left `file`, followed through every later move while it names the file its last
    // move gave it; none when no patch left `file` or the one that did has gone or names another since.
    std::shared_ptr<PatchItem> follow(const std::string& file, const Absolute& absolute) const;

private:
    struct Move {
        std::string now;
        std::weak_ptr<PatchItem> patch;
    };
    std::map<std::string, Move> moves_;
};
