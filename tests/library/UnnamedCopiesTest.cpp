#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "library/UnnamedCopies.h"
#include "platform/files/LocalFileManager.h"
#include "support/files/TemporaryFolder.h"

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

void put(const TemporaryFolder& folder, const std::string& relative, const std::string& text)
{
    const std::filesystem::path path = folder / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A working copy a cut run left: named entries, copies that landed after the note (one of them twice over,
// one in a group), a half-written copy, a file two folders deep. Each look answers the unnamed file with
// those bytes, once, or nothing.
TEST(UnnamedCopies, AnUnnamedFileIsFoundByItsBytesOnce)
{
    TemporaryFolder local;
    put(local, "Named.qptc", "named");
    put(local, "Group/Named.qptc", "grouped and named");
    put(local, "Late.qptc", "late");
    put(local, "Late (1).qptc", "twice");
    put(local, "Late (2).qptc", "twice");
    put(local, "Group/Late.qptc", "late in a group");
    put(local, ".Cut.qptc.tmp-12-3", "cut");
    put(local, "Group/Inner/Deep.qptc", "deep");
    platform::LocalFileManager files;
    UnnamedCopies copies(files, local.path(), {"Named.qptc", "Group/Named.qptc"}, 64);
    struct Case {
        const char* bytes;
        std::optional<std::string> found;
    };
    const std::vector<Case> cases = {
        {"named", std::nullopt},
        {"grouped and named", std::nullopt},
        {"late", "Late.qptc"},
        {"late", std::nullopt},
        {"late in a group", "Group/Late.qptc"},
        {"cut", std::nullopt},
        {"deep", std::nullopt},
        {"nowhere", std::nullopt},
        {"lat", std::nullopt},
    };
    for (const Case& each : cases) EXPECT_EQ(copies.take(bytesOf(each.bytes)), each.found) << each.bytes;
    // Two files alike: each is handed out once, whichever comes first.
    const auto first = copies.take(bytesOf("twice"));
    const auto second = copies.take(bytesOf("twice"));
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(copies.take(bytesOf("twice")), std::nullopt);
}

}  // namespace
