#pragma once

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
    // Whether `name` is one a pattern was completed into.
    static bool is(std::string_view name);
};

}  // namespace platform
