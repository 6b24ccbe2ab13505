#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "library/store/BackupFile.h"
#include "library/store/OKVLocalFileController.h"
#include "platform/plist/PropertyList.h"

namespace fs = std::filesystem;
using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistUid;
using platform::PlistValue;

namespace {

struct Root {
    fs::path root = fs::temp_directory_path() / ("rig-store-" + std::to_string(getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    OKVLocalFileController store{root.string(), ""};

    Root() { fs::create_directories(root); }
    ~Root() { fs::remove_all(root); }
    fs::path touch(const fs::path& relative, const std::string& text = "x")
    {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << text;
        return root / relative;
    }
};

std::shared_ptr<DirectoryObject> leaf(const fs::path& path)
{
    auto node = std::make_shared<DirectoryObject>();
    auto item = std::make_shared<PatchItem>();
    item->path = path.string();
    node->path = path.string();
    node->object = item;
    return node;
}

std::shared_ptr<DirectoryObject> group(const std::string& name, const fs::path& path)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->path = path.string();
    node->isGroup = true;
    return node;
}

}  // namespace

TEST(OKVLocalFileController, ListsCountsAndFindsEmptyGroups)
{
    Root r;
    r.touch("Pool/a.qptc");
    r.touch("Pool/b.QPTC");
    r.touch("Pool/c.txt");
    r.touch("Pool/Group/Inner/d.qptc");
    r.touch("Pool/Full/e.qptc");
    r.touch("QFXMacApplication/Effect/0B000123/drive.QF2");
    r.touch("QFXMacApplication/Effect/0C000001/delay.QF2");
    // Half an effect an unpack cut short left beside it.
    r.touch("QFXMacApplication/Effect/.0C000001.new-Ab12Cd/delay.QF2");
    r.touch("QFXMacApplication/Effect/Model 1/.0C000002.old-Ab12Cd/Inner/echo.QF2");

    auto pool = std::get<std::vector<std::string>>(r.store.getAllFileInFolderPath("Pool", "qptc", false));
    EXPECT_EQ(pool, std::vector<std::string>{(r.root / "Pool/a.qptc").string()});
    EXPECT_EQ(OKVLocalFileController::getNumberOfFileInDirectory((r.root / "Pool").string(), "qptc"), 4);

    auto effects = std::get<std::vector<MappingObject>>(
        r.store.getAllFileInFolderPath("QFXMacApplication/Effect", "QF2", true));
    ASSERT_EQ(effects.size(), 2u);
    EXPECT_EQ(effects[0].filePath, (r.root / "QFXMacApplication/Effect/0B000123/drive.QF2").string());
    EXPECT_TRUE(effects[0].isNew && effects[0].isEffectExistedAtServer && !effects[0].isBackup);
    EXPECT_TRUE(std::get<std::vector<std::string>>(r.store.getAllFileInFolderPath("Missing", "qptc", true)).empty());

    EXPECT_EQ(r.store.getAllFolderEmptyWithPath("Pool"), std::vector<std::string>{(r.root / "Pool/Group").string()});

    std::vector<MappingObject> store{MappingObject::initWithFileName("drive.QF2", "/s/QX-1/0B/drive.QF2"),
                                     MappingObject::initWithFileName("UNKNOWN", "/s/qx-1/0C/u.QF2"),
                                     MappingObject::initWithFileName("amp.QF2", "/s/QX-2/0D/amp.QF2")};
    auto forDevice = OKVLocalFileController::getEffectListServerForDeviceWithEffectPool(store, "qx-1");
    ASSERT_TRUE(forDevice);
    ASSERT_EQ(forDevice->size(), 1u);
    EXPECT_EQ((*forDevice)[0].fileName, "drive.QF2");
    EXPECT_FALSE(OKVLocalFileController::getEffectListServerForDeviceWithEffectPool(store, "QX-9"));
}

TEST(OKVLocalFileController, SortsByIndexNumber)
{
    Root r;
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> sorted;
    } cases[] = {
        {{"[3] c", "[1] a", "[2] b"}, {"[1] a", "[2] b", "[3] c"}},
        {{"[2] b", "7 seven", "plain", "[12] l"}, {"plain", "[2] b", "7 seven", "[12] l"}},
        {{"]odd", "[1] a"}, {"]odd", "[1] a"}},
        // Equal numbers end in the order the exchange of smaller later entries gives, not the listing's.
        {{"[2] A", "[2] B", "[1] C"}, {"[1] C", "[2] B", "[2] A"}},
        {{"[3] a", "[1] b", "[3] c", "[0] d", "[1] e"}, {"[0] d", "[1] b", "[1] e", "[3] a", "[3] c"}},
        {{"[2] A", "[2] B", "[1] C", "[2] D", "[0] E"}, {"[0] E", "[1] C", "[2] A", "[2] D", "[2] B"}},
        {{"x", "y", "z"}, {"x", "y", "z"}},
    };
    for (const auto& c : cases) {
        std::vector<std::shared_ptr<DirectoryObject>> list;
        for (const auto& name : c.names) list.push_back(group(name, "/x/" + name));
        r.store.sortChildDirectoryInDirectoryObjectList(list);
        std::vector<std::string> names;
        for (const auto& node : list) names.push_back(*node->name);
        EXPECT_EQ(names, c.sorted);
    }
    EXPECT_EQ(r.store.getNumberFileNameWithDirectoryObject(*leaf("/p/[12] Clean.qptc")), 12);
    EXPECT_EQ(OKVLocalFileController::getFileNameFromIndexSavingName("[1] a] b"), "a] b");
}

TEST(OKVLocalFileController, StripsIndexPrefixesInTheWorkingCopy)
{
    Root r;
    const fs::path local = r.root / "Temp/Local";
    auto clean = leaf(r.touch("Temp/Local/[1] Clean.qptc"));
    auto live = group("[2] Live", local / "[2] Live");
    live->childDirectories.push_back(leaf(r.touch("Temp/Local/[2] Live/[1] Lead.qptc")));
    auto backup = group("[3] Backup_X-1", local / "[3] Backup_X-1");
    backup->isBackUpAllGroup = true;
    backup->childDirectories.push_back(leaf(r.touch("Temp/Local/[3] Backup_X-1/[1] Saved.qptc")));
    ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("Backup_X:1", "DEV").get(),
                                           (local / "[3] Backup_X-1/BackupInfo.backup").string(), r.root.string()));
    // A name the user gave, with a "-" of its own, is not the record's.
    auto renamed = group("[5] Gig-1", local / "[5] Gig-1");
    renamed->isBackUpAllGroup = true;
    renamed->childDirectories.push_back(leaf(r.touch("Temp/Local/[5] Gig-1/[1] Saved.qptc")));
    ASSERT_TRUE(BackupFile::saveBackupFile(BackupFile::initWithName("Backup_DEV_20240305_14_07", "DEV").get(),
                                           (local / "[5] Gig-1/BackupInfo.backup").string(), r.root.string()));
    // The plain name is taken already, and the old folder holds a file outside the tree: it moves along.
    auto taken = group("[4] Solo", local / "[4] Solo");
    taken->childDirectories.push_back(leaf(r.touch("Temp/Local/[4] Solo/[1] One.qptc")));
    r.touch("Temp/Local/[4] Solo/stray.qptc", "keep me");
    r.touch("Temp/Local/Solo/existing.qptc");

    r.store.renameFileInDirectoryObjectList({clean, live, backup, taken, renamed});
    EXPECT_EQ(renamed->name, "Gig-1");

    EXPECT_TRUE(fs::exists(local / "Clean.qptc"));
    EXPECT_EQ(clean->patchItem()->path, (local / "Clean.qptc").string());
    EXPECT_EQ(live->name, "Live");
    EXPECT_EQ(live->path, (local / "Live").string());
    EXPECT_EQ(live->childDirectories[0]->patchItem()->path, (local / "Live/Lead.qptc").string());
    EXPECT_TRUE(fs::exists(local / "Live/Lead.qptc"));
    EXPECT_FALSE(fs::exists(local / "[2] Live"));

    EXPECT_EQ(backup->name, "Backup_X:1");
    EXPECT_TRUE(fs::exists(local / "Backup_X-1/BackupInfo.backup"));
    EXPECT_TRUE(fs::exists(local / "Backup_X-1/Saved.qptc"));
    EXPECT_FALSE(fs::exists(local / "[3] Backup_X-1"));

    EXPECT_EQ(taken->name, "Solo (1)");
    EXPECT_TRUE(fs::exists(local / "Solo (1)/One.qptc"));
    EXPECT_TRUE(fs::exists(local / "Solo/existing.qptc"));
    EXPECT_TRUE(fs::exists(local / "Solo (1)/stray.qptc"));
    EXPECT_FALSE(fs::exists(local / "[4] Solo"));
}

TEST(BackupFile, WrittenReadBackAndReadFromTheOriginalArchiversForm)
{
    Root r;
    auto record = BackupFile::initWithName("Backup_X-1", "QX-1");
    fs::create_directories(r.root / "Patch/Backup_X-1");
    fs::create_directories(r.root / "QFXMacApplication/Patch/Backup/[3] Backup_X-1");
    ASSERT_TRUE(BackupFile::saveBackupFile(record.get(), "Patch/Backup_X-1/BackupInfo.backup", r.root.string()));
    const fs::path written = r.root / "Patch/Backup_X-1/BackupInfo.backup";

    // The stored form: a binary keyed archive whose root is a dictionary of the two names.
    platform::PlistFormat format{};
    auto tree = platform::PropertyList::readFile(written, nullptr, &format);
    ASSERT_TRUE(tree);
    EXPECT_EQ(format, platform::PlistFormat::Binary);
    EXPECT_EQ(tree->get("$archiver"), PlistValue("NSKeyedArchiver"));
    const auto rootUid = tree->get("$top").get("root").asUid();
    ASSERT_TRUE(rootUid);
    const auto& rootObject = tree->get("$objects").at(rootUid->index);
    EXPECT_EQ(rootObject.get("NS.keys").array()->size(), 2u);

    auto back = BackupFile::readBackupFileWithPath(written.string(), r.root.string());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->backupName(), "Backup_X-1");
    EXPECT_EQ(back->modelName(), "QX-1");
    EXPECT_FALSE(BackupFile::readBackupFileWithPath("Patch/none", r.root.string()));
    r.touch("Patch/garbage.backup", "bplist00 not really");
    EXPECT_FALSE(BackupFile::readBackupFileWithPath("Patch/garbage.backup", r.root.string()));

    // Made by hand the way the original platform's archiver lays it out: immutable dictionary class,
    // keys and values as separate objects, class description shared at the end.
    PlistDictionary archive{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$top", PlistDictionary{{"root", PlistUid{1}}}},
        {"$objects",
         PlistArray{"$null",
                    PlistDictionary{{"NS.keys", PlistArray{PlistUid{2}, PlistUid{3}}},
                                    {"NS.objects", PlistArray{PlistUid{4}, PlistUid{5}}},
                                    {"$class", PlistUid{6}}},
                    "ModelName", "BackupName", "QX-2", "[5] Backup_Y",
                    PlistDictionary{{"$classname", "NSDictionary"}, {"$classes", PlistArray{"NSDictionary", "NSObject"}}}}},
    };
    const fs::path original = r.root / "Patch/Y/BackupInfo.backup";
    fs::create_directories(original.parent_path());
    ASSERT_TRUE(platform::PropertyList::writeFile(original, archive, platform::PlistFormat::Binary));
    auto fromOriginal = BackupFile::readBackupFileWithPath("Patch/Y/BackupInfo.backup", r.root.string());
    ASSERT_TRUE(fromOriginal);
    EXPECT_EQ(fromOriginal->modelName(), "QX-2");
    EXPECT_EQ(fromOriginal->backupName(), "[5] Backup_Y");

    // A backup group takes its model from the record the list names, relative paths under the patch folder.
    ASSERT_TRUE(BackupFile::saveBackupFile(record.get(), "QFXMacApplication/Patch/Backup/[3] Backup_X-1/BackupInfo.backup",
                                           r.root.string()));
    std::vector<MappingObject> records{MappingObject::initWithFilePath("Backup/[3] Backup_X-1/BackupInfo.backup")};
    DirectoryObject node;
    node.name = "[3] backup_x-1";
    r.store.updateModelNameForDirectoryObjectBackup(node, records);
    EXPECT_EQ(node.modelName, "QX-1");
    EXPECT_EQ(records[0].filePath,
              (r.root / "QFXMacApplication/Patch/Backup/[3] Backup_X-1/BackupInfo.backup").string());
}
