#pragma once

#include <optional>
#include <string>

#include "platform/bundle/StringsTable.h"

namespace platform {

// The program's resources folder and the strings tables in it: "<resources>/<table>.strings" for the
// unlocalised tables, "<resources>/<language>.lproj/<table>.strings" for the localised ones.
class Bundle {
public:
    explicit Bundle(std::string resourcesDirectory) : resources_(std::move(resourcesDirectory)) {}

    // The first folder that exists of: $RIG_RESOURCES; "resources" beside the executable;
    // "../share/pexo-rigmora" from the executable (an installed program); the source tree's resources
    // folder (a program run from its build folder).
    static std::optional<std::string> locateResources();
    // A bundle over locateResources(), or over an empty path (every table then reads as missing).
    static Bundle main();

    const std::string& resourcesDirectory() const { return resources_; }
    // The table, or nothing when its file is missing. Bad lines are logged and skipped.
    std::optional<StringsTable> table(const std::string& name, const std::string& language = {}) const;

private:
    std::string resources_;
};

}  // namespace platform
