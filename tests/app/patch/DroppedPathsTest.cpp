#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/patch/DroppedPaths.h"
#include "support/files/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

TEST(DroppedPathsTest, FileURLsDecodeToTheBytesTheyName)
{
    using namespace std::string_literals;
    const std::string list = "# a comment line\r\n"
                             "file:///m/a%20b.qptc\r\n"
                             "http://example.invalid/c.qptc\r\n"
                             "file://localhost/m/%FF%FE.qptc\r\n"
                             "file://elsewhere/m/d.qptc\r\n"
                             "FILE:/m/e.qptc?x#y\n"
                             "  file:///m/%E3%81%82.qptc  \n"
                             "\r\n";
    EXPECT_EQ(DroppedPaths::localPathsOfUriList(list),
              (Paths{"/m/a b.qptc", "/m/\xFF\xFE.qptc", "/m/e.qptc", "/m/\xE3\x81\x82.qptc"}));
    // What the checks must see as sent: a NUL escaped or raw, and a relative path.
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:///m/kept(1).txt%00x.qptc"), "/m/kept(1).txt\0x.qptc"s);
    EXPECT_EQ(DroppedPaths::localPathsOfUriList("file:///m/kept(1).txt\0x.qptc\r\n"s), (Paths{"/m/kept(1).txt\0x.qptc"s}));
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:Temp/Local/x.qptc"), "Temp/Local/x.qptc");
    EXPECT_EQ(DroppedPaths::localPathOfFileURL("file:../../etc/passwd"), "../../etc/passwd");
}

TEST(DroppedPathsTest, ADropIsRefusedWholeForAnyPathThatIsNotPlainlyOutsideTheProgram)
{
    using namespace std::string_literals;
    TemporaryFolder folder;
    const fs::path own = fs::path(folder.path()) / "PEXO Rigmora";
    fs::create_directories(own / "Temp/Local");
    fs::create_directories(fs::path(folder.path()) / "PEXO Rigmora old");
    fs::create_directories(fs::path(folder.path()) / "elsewhere");
    std::ofstream(own / "Temp/Local/x.qptc") << "patch";
    fs::create_directory_symlink(own, fs::path(folder.path()) / "alias");
    fs::create_symlink(own / "Temp/Local/x.qptc", fs::path(folder.path()) / "elsewhere/x.qptc");
    const std::string base = folder.path();

    const struct {
        const char* what;
        std::string path;
        bool refused;
    } cases[] = {
        {"an ordinary file", base + "/elsewhere/y.qptc", false},
        {"a sibling whose name starts like the own folder", base + "/PEXO Rigmora old/y.qptc", false},
        {"a name that is not UTF-8", base + "/elsewhere/\xFF\xFE.qptc", false},
        {"a NUL", base + "/elsewhere/kept(1).txt\0x.qptc"s, true},
        {"a line feed", base + "/elsewhere/a\nb.qptc", true},
        {"DEL", base + "/elsewhere/a\x7F.qptc", true},
        {"a C1 control", base + "/elsewhere/a\xC2\x85.qptc", true},
        {"a relative path", "Temp/Local/x.qptc", true},
        {"a climbing path", "../../x.qptc", true},
        {"the own folder", own.string() + "/Temp/Local/x.qptc", true},
        {"the own folder through a folder link", base + "/alias/Temp/Local/x.qptc", true},
        {"a file link into the own folder", base + "/elsewhere/x.qptc", true},
        {"a climb back into the own folder", base + "/elsewhere/../PEXO Rigmora/Temp/Local/x.qptc", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DroppedPaths::refusesDrop({base + "/elsewhere/ok.qptc", c.path}, own.string()), c.refused) << c.what;
    }
    // The own folder given through a link, or with a trailing separator, is the same folder.
    EXPECT_TRUE(DroppedPaths::refusesDrop({own.string() + "/Temp/Local/x.qptc"}, base + "/alias"));
    EXPECT_TRUE(DroppedPaths::refusesDrop({own.string() + "/Temp/Local/x.qptc"}, own.string() + "/"));
    EXPECT_FALSE(DroppedPaths::refusesDrop({base + "/PEXO Rigmora old/y.qptc"}, own.string() + "/"));
}

// Many files from one folder are judged from one look at the folder, with the same answers as one file.
TEST(DroppedPathsTest, ManyFilesFromOneFolderAreJudgedAsEachWouldBeAlone)
{
    TemporaryFolder folder;
    const fs::path base(folder.path());
    const fs::path own = base / "PEXO Rigmora";
    fs::create_directories(own / "Temp/Local");
    fs::create_directories(base / "many");
    std::ofstream(own / "Temp/Local/x.qptc") << "patch";
    Paths many;
    for (int i = 0; i < 100; ++i) {
        const fs::path file = base / "many" / ("p" + std::to_string(i) + ".qptc");
        std::ofstream(file) << "patch";
        many.push_back(file.string());
    }
    // Links out of the program's folder, and names the drop gives that are not there, are the folder's.
    fs::create_symlink(base / "many/p0.qptc", base / "many/elsewhere.qptc");
    fs::create_symlink(base / "many/missing.qptc", own / "Temp/Local/out.qptc");
    Paths fine = many;
    fine.push_back((base / "many/elsewhere.qptc").string());
    fine.push_back((base / "many/not there.qptc").string());
    fine.push_back((base / "many/../many/p1.qptc").string());
    EXPECT_FALSE(DroppedPaths::refusesDrop(fine, own.string()));

    fs::create_symlink(own / "Temp/Local/x.qptc", base / "many/inside.qptc");
    Paths withALink = many;
    withALink.insert(withALink.begin() + 50, (base / "many/inside.qptc").string());
    EXPECT_TRUE(DroppedPaths::refusesDrop(withALink, own.string()));

    // The whole folder reached through a link into the program's folder.
    fs::create_directory_symlink(own / "Temp/Local", base / "many/local");
    Paths throughALink;
    for (int i = 0; i < 40; ++i) throughALink.push_back((base / "many/local" / ("q" + std::to_string(i) + ".qptc")).string());
    EXPECT_TRUE(DroppedPaths::refusesDrop(throughALink, own.string()));
    EXPECT_TRUE(DroppedPaths::refusesDrop({(base / "many/local/x.qptc").string()}, own.string()));
}

}  // namespace
