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

}  // namespace
