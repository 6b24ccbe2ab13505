#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "library/store/BackupFile.h"
#include "support/library/PatchLibraryFixture.h"

// A library laid out on disk through links, started, edited and saved as the program does.
class LinkedLibrary : public PatchLibrary {
protected:
    using Path = std::filesystem::path;
    void put(const Path& path, const std::string& name)
    {
        std::filesystem::create_directories(path.parent_path());
        ASSERT_TRUE(files.writeAtomically(path.string(), patchBytes(name)));
    }
    // The library {A, G/C}, its patches in its own "Pool".
    void libraryAGC()
    {
        put(library() + "/Pool/[0] A.qptc", "A");
        put(library() + "/Pool/[1] G/[0] C.qptc", "C");
    }
    // A backup group "B" holding "D" at `position` in `part`, with the record that keeps it a backup.
    void backup(const Path& part, const std::string& position = "1")
    {
        const Path group = part / ("[" + position + "] B");
        put(group / "[0] D.qptc", "D");
        std::filesystem::create_directories(rootFolder);
        ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("B", "Unit").get(), rootFolder + "/record", rootFolder));
        std::filesystem::rename(rootFolder + "/record", group / BackupFile::kFileName);
    }
    // A link at `relative` under the data folder.
    void link(const std::string& relative, const Path& target)
    {
        std::filesystem::create_directories(Path(rootFolder + "/" + relative).parent_path());
        std::filesystem::create_symlink(target, rootFolder + "/" + relative);
    }
    // The pool shown with a patch "E" added at its end.
    CommonUtils::Tree withE()
    {
        CommonUtils::Tree tree = recorder.patchPool;
        return add(tree, "E");
    }
    // Every regular file below `folder` by its path there, with its bytes.
    static std::map<std::string, std::string> filesIn(const Path& folder)
    {
        std::map<std::string, std::string> found;
        std::error_code ec;
        for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (!std::filesystem::is_regular_file(it->symlink_status())) continue;
            std::ifstream in(it->path(), std::ios::binary);
            found[std::filesystem::relative(it->path(), folder).string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return found;
    }
    static Strings entriesOf(const Path& folder)
    {
        Strings names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};
