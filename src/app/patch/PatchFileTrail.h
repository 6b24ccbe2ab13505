#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class PatchItem;

// Where the list's patches went when a merge of the unit's change gave them another file, and which texts
// the last merge took from the unit. The unit may change a patch again before the merged one reaches it:
// that change names the file the unit held, which the patch has left, and is still one of that patch; the
// texts it held are older than the merge, so a text the list's patch took from the unit then is no edit
// of the user's. Main thread only.
class PatchFileTrail {
public:
    using Absolute = std::function<std::string(const std::string&)>;
    struct UnitTexts {
        std::optional<std::string> name;
        std::optional<std::string> comment;
    };
    // Moves kept at most: the unit holds a file a patch left only until our write of it lands.
    static constexpr std::size_t kMovesKept = 256;

    // A merge laid the unit's change over `patch`, which left the file `former` for `now` (both absolute;
    // the same when it kept its file) and took `taken` from the unit.
    void record(const std::string& former, const std::string& now, const std::shared_ptr<PatchItem>& patch,
                UnitTexts taken);
    // The patch that left `file`, followed through every later move while it names the file its last
    // move gave it; none when no patch left `file` or the one that did has gone or names another since.
    std::shared_ptr<PatchItem> follow(const std::string& file, const Absolute& absolute) const;
    // The texts the last merge of `patch` took from the unit, when `file` is one the patch left (a change
    // made on what the unit held before that merge); none otherwise.
    std::optional<UnitTexts> takenSinceLeaving(const std::string& file, const PatchItem& patch,
                                               const Absolute& absolute) const;

private:
    struct Move {
        std::string now;
        std::weak_ptr<PatchItem> patch;
        std::uint64_t serial = 0;
    };
    struct Taken {
        std::weak_ptr<PatchItem> patch;
        UnitTexts texts;
    };
    std::map<std::string, Move> moves_;
    std::vector<Taken> taken_;
    std::uint64_t serial_ = 0;
};
