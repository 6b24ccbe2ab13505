// Names from the device, the server and archives become file names only after the check: a name it
// passes, joined to a folder, names something directly inside that folder; one it refuses says why.
#include <cerrno>
#include <filesystem>
#include <string>

#include "FuzzInput.h"
#include "platform/files/SafeName.h"

using platform::SafeName;
using fuzzinput::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    platform::Error error;
    if (SafeName::check(name, &error)) {
        const std::filesystem::path folder("/folder");
        const auto joined = (folder / std::string(name)).lexically_normal();
        check(joined.parent_path() == folder, "a passed name leaves its folder");
        check(joined.filename() == std::string(name), "a passed name is not one path element");
        check(size <= SafeName::kMaxBytes, "a passed name is too long");
    } else {
        check(!error.description.empty() && (error.code == EINVAL || error.code == ENAMETOOLONG),
              "a refused name gives no reason");
    }
    return 0;
}
