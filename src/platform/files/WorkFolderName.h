#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The names of the hidden folders a replace works in: the new content built before it is swapped in, the
// old content set aside while it is. Never content of their own; one that is found was left by a run that
// was killed, and no reader takes it for what it stands beside.
class WorkFolderName {
public:
    // The mkdtemp pattern of a work folder for `name`: ".<name>.<purpose>-XXXXXX".
    static std::string pattern(std::string_view name, std::string_view purpose);
    // Whether `name` is one a pattern was completed into, or an aside name.
    static bool is(std::string_view name);

    // The folder `name` is set aside as while a replace swaps it, ".<name>.old-<order>": `order` is a
    // number of fixed width (a time), so that of the asides of one folder the newest has the greatest name.
    static std::string aside(std::string_view name, std::string_view order);
    // The name of the folder an aside name stands for; nothing for any other name.
    static std::optional<std::string> asideOf(std::string_view name);
};

}  // namespace platform
