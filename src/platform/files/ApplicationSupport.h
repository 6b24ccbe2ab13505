#pragma once

#include <string>

namespace platform {

// Where the program keeps its data: the XDG data folder ($XDG_DATA_HOME when it is an absolute path,
// else ~/.local/share), and inside it the program's own root folder.
class ApplicationSupport {
public:
    static constexpr const char* kRootFolderName = "PEXO Rigmora";

    static std::string dataDirectory();
    // dataDirectory() joined with kRootFolderName. Nothing is created here.
    static std::string rootFolder();
};

}  // namespace platform
