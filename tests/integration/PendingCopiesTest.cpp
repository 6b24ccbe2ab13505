// A run killed while its Quit waits for a drop's copies: the next start shows every patch the quit
// showed, those whose copies had not landed included, each once and in order; a file they were being
// copied from that is gone by then is named to the user.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoPool.h"
#include "DragTour.h"
#include "DropFiles.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"
#include "support/files/FaultyFileManager.h"
#include "support/library/LibraryFiles.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The pool in order, one line a patch ("group/patch" within a group, "group/" for an empty one).
std::vector<std::string> poolLines(const std::vector<PoolTour::Shown>& pool)
{
    std::vector<std::string> lines;
    for (const auto& entry : pool) {
        if (!entry.group) lines.push_back(entry.name);
        else if (entry.children.empty()) lines.push_back(entry.name + "/");
        for (const auto& child : entry.children) lines.push_back(entry.name + "/" + child);
    }
    return lines;
}

void writeLines(const fs::path& path, const std::vector<std::string>& lines)
{
    std::ofstream out(path, std::ios::binary);
    for (const auto& line : lines) out << line << '\n';
}

std::vector<std::string> readLines(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Where two pools' lines part, and what each holds there.
std::string describeDifference(const std::vector<std::string>& shown, const std::vector<std::string>& expected)
{
    std::size_t at = 0;
    while (at < shown.size() && at < expected.size() && shown[at] == expected[at]) ++at;
    const auto around = [&](const std::vector<std::string>& lines) {
        std::string text;
        for (std::size_t i = at; i < lines.size() && i < at + 3; ++i) text += " \"" + lines[i] + "\"";
        return text;
    };
    return "shown " + std::to_string(shown.size()) + " lines, expected " + std::to_string(expected.size()) + "; from line " +
           std::to_string(at) + " shown:" + around(shown) + ", expected:" + around(expected);
}

void quitWhenEnabled(ProgramRig& rig, QWidget& window)
{
    ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::enabledAction(window, QStringLiteral("Quit")) != nullptr; }, 20s))
        << ProgramRig::informationText();
    rig.quitFromMenu();
}

// The files the earlier run was still copying from that the test takes away before the next start.
constexpr const char* kGone[] = {"Into0100", "Into0149"};

}  // namespace

// The earlier run: a rename, 150 files dropped on a group whose 51st copy never ends (the first 50 are
// made, none landed), then Quit, which waits for the copies.
TEST(PendingCopies, DISABLED_AQuitWaitingForADropsCopiesIntoAGroup)
{
    auto faulty = std::make_shared<FaultyFileManager>();
    ProgramRig rig;
    rig.setFiles(faulty);
    const fs::path scratch = rig.scratch();
    rig.run([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        PoolTour::renamePatch(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::patchRenamed, 10s));
        const std::size_t before = drop_files::patchesShown(PoolTour::shownPool());
        faulty->stallForeverAt(FaultyFileManager::Op::Copy, "Into0050.qptc\n", [] {});
        DragTour::dropFilesOnPoolItem(window, drop_files::write(scratch, "Into", 150), DemoPool::kGroupName);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return drop_files::patchesShown(PoolTour::shownPool()) == before + 150; }, 60s));
        writeLines(scratch / "shown.txt", poolLines(PoolTour::shownPool()));
        quitWhenEnabled(rig, window);
        const std::string waits = InterfaceTexts::localizedString("Main_BusyQuitWaits").toStdString();
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::busyLine(window).toStdString().find(waits) != std::string::npos; }, 20s));
        std::ofstream(scratch / "killed") << "";
    });
}

TEST(PendingCopies, ARunKilledWhileItsQuitWaitsForCopiesComesBackWithEveryPatch)
{
    ProgramRig rig;
    ASSERT_EQ(rig.setupError(), "");
    ASSERT_TRUE(rig.runEarlierRunKilledAt("PendingCopies.DISABLED_AQuitWaitingForADropsCopiesIntoAGroup", "killed"));
    for (const char* gone : kGone) fs::remove(rig.scratch() / (std::string(gone) + ".qptc"));
    std::vector<std::string> expected;
    const auto isGone = [](const std::string& line) {
        for (const char* gone : kGone)
            if (line.size() > std::strlen(gone) && line.compare(line.size() - std::strlen(gone) - 1, std::string::npos, "/" + std::string(gone)) == 0)
                return true;
        return false;
    };
    for (const auto& line : readLines(rig.scratch() / "shown.txt"))
        if (!isGone(line)) expected.push_back(line);
    ASSERT_GT(expected.size(), 150U);

    std::vector<std::string> notices;
    std::vector<PoolTour::Shown> shown;
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        // The kept pool is said, then what it could not bring back.
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(ProgramRig::waitUntil([&] {
                return ProgramRig::informationShown() && (notices.empty() || ProgramRig::informationText() != notices.back());
            }, 30s));
            notices.push_back(ProgramRig::informationText());
            ProgramRig::closeInformation();
        }
        ProgramRig::settle(300ms);
        ProgramRig::dismissUpdateNotice();
        shown = PoolTour::shownPool();
        quitWhenEnabled(rig, rig.window());
    });
    ASSERT_EQ(notices.size(), 2U);
    EXPECT_EQ(notices[0], InterfaceTexts::localizedString("Main_PatchPoolKeptFromLastRun").toStdString());
    for (const char* gone : kGone)
        EXPECT_NE(notices[1].find(std::string(gone) + ".qptc"), std::string::npos) << notices[1];
    const std::vector<std::string> lines = poolLines(shown);
    EXPECT_EQ(lines, expected) << describeDifference(lines, expected);
}
