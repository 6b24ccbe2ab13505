#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "library/models/DirectoryObject.h"
#include "library/store/MappingObject.h"

// The file operations over the program's folders: listings of one extension, empty pool groups, the
// index prefixes of the saved patch pool ("[%d] %@"), backup groups' models, the effect store for one
// device. Paths handed in are absolute or relative to the root folder.
class OKVLocalFileController {
public:
    // A listing gives paths, or entries when the folder lies in the program's data folder.
    using FileList = std::variant<std::vector<std::string>, std::vector<MappingObject>>;

    OKVLocalFileController(std::string rootFolder, std::string bundlePath);
    // The instance on the user's data folder and the program's resources.
    static OKVLocalFileController& getInstance();

    const std::string& rootFolder() const { return root_; }

    // `path` joined under `root` unless its text already contains the root.
    static std::string pathUnderRoot(const std::string& path, const std::string& root);

    // The entries whose extension equals `extension` exactly, in the folder or (with `inSubFolder`) at
    // every depth, sorted; empty for a missing folder.
    FileList getAllFileInFolderPath(const std::string& folderPath, const std::string& extension,
                                    bool inSubFolder) const;
    // The folders directly in the folder that hold no patch file of their own.
    std::vector<std::string> getAllFolderEmptyWithPath(const std::string& folderPath) const;

    // Orders by each node's number (its index prefix, or the number its name starts with), taken once per
    // node; nodes of equal number keep their order.
    void sortChildDirectoryInDirectoryObjectList(std::vector<std::shared_ptr<DirectoryObject>>& list) const;
    std::int32_t getNumberFileNameWithDirectoryObject(const DirectoryObject& node) const;

    // Gives every file and group folder of the working copy its plain name, on disk and in the nodes. A
    // group whose plain name is taken gets the first free "%@ (%d)" name; its folder moves whole, with
    // what the tree does not show, or keeps its name when it cannot move.
    void renameFileInDirectoryObjectList(const std::vector<std::shared_ptr<DirectoryObject>>& list) const;
    void updateModelNameForDirectoryObjectBackup(DirectoryObject& node,
                                                 std::vector<MappingObject>& backupFileList) const;

    // The entries under the model's folder that are not the unknown effect; nothing when none is.
    static std::optional<std::vector<MappingObject>> getEffectListServerForDeviceWithEffectPool(
        const std::vector<MappingObject>& effectPool, const std::string& deviceName);
    // Entries at every depth whose extension contains `extension`, ignoring case.
    static std::int32_t getNumberOfFileInDirectory(const std::string& folderPath, const std::string& extension);

    // The name without its index prefix: the text after the first "] ".
    static std::string getFileNameFromIndexSavingName(const std::string& name);
    // A backup group's name as shown, from its folder's name and the name its record was written with:
    // a ":" can be no folder's, so the program wrote the record name's ":" as "-"; only those come back as
    // ":", so a "-" the user typed stays. A folder that is not the record's name (renamed since, or no
    // record) keeps its name, and a free-name ending added to the record's name stays as it is.
    static std::string backupGroupDisplayName(const std::string& folderName, const std::optional<std::string>& recordedName);

private:
    std::string workingCopyFolder() const;
    std::string resolveListingFolder(const std::string& folderPath, const std::string& extension) const;

    std::string root_;
    std::string bundlePath_;
};
