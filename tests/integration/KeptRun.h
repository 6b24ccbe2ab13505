#pragma once

// Runs cut short or failed at their end, and the start after them that shows the pool they kept: an earlier
// run (a disabled test that only its starting test runs) notes in the scratch folder the pool it showed and
// when it stands where it is to be killed; the next start reads the notes.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"
#include "support/files/FaultyFileManager.h"

namespace kept_run {

using namespace std::chrono_literals;

inline void writeText(const std::filesystem::path& path, const std::string& text) { ProgramRig::writeFile(path, text); }
inline std::string readText(const std::filesystem::path& path) { return ProgramRig::readFile(path); }

// The pool as lines, "name" for a patch and "name/child" for each patch of a group ("name/" without).
inline std::string poolText(const std::vector<PoolTour::Shown>& pool)
{
    std::string text;
    for (const auto& entry : pool) {
        if (!entry.group) text += entry.name + "\n";
        else if (entry.children.empty()) text += entry.name + "/\n";
        for (const auto& child : entry.children) text += entry.name + "/" + child + "\n";
    }
    return text;
}

// The earlier run's side: the pool it shows now, for the next start; that it stands still where it is to
// be killed; the row of its table the starting test named.
inline void noteShown(const ProgramRig& rig) { writeText(rig.scratch() / "shown.txt", poolText(PoolTour::shownPool())); }
inline void readyToBeKilled(const std::filesystem::path& scratch) { writeText(scratch / "killed", ""); }
inline std::string row(const ProgramRig& rig) { return readText(rig.scratch() / "row.txt"); }

// An earlier run on a file manager whose faults `body` arms.
inline void faultyRun(ProgramRig& rig, const std::function<void(ProgramRig&, FaultyFileManager&)>& body)
{
    auto faulty = std::make_shared<FaultyFileManager>();
    rig.setFiles(faulty);
    rig.runToTheEnd([&](ProgramRig& rig) { body(rig, *faulty); });
}

// The starting test's side: runs `test` told the row `row`, and kills it once it is ready; whether it was.
inline bool runKilled(ProgramRig& rig, const std::string& test, const std::string& row = {})
{
    writeText(rig.scratch() / "row.txt", row);
    return rig.runEarlierRunKilledAt(test, "killed");
}
inline std::string shownByTheEarlierRun(const ProgramRig& rig) { return readText(rig.scratch() / "shown.txt"); }

// The start after such a run: the patch screen shows and says the last run's pool was kept, and that
// notice is closed. The rig's own wait for the patch screen looks for the saved library's groups:
// `anyPool`, for a kept pool that shows them otherwise (one renamed or deleted), the screen is only
// switched to.
inline void keptPoolTold(ProgramRig& rig, bool anyPool = false)
{
    if (anyPool) WindowGestures::clickButton(rig.window(), "patchManagerButton");
    else ASSERT_TRUE(rig.showPatchScreen());
    ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 30s));
    EXPECT_EQ(ProgramRig::informationText(), InterfaceTexts::localizedString("Main_PatchPoolKeptFromLastRun").toStdString());
    ProgramRig::closeInformation();
}

// The next start up to its quit: `atStart`, then the pool once what the start says is read; that pool.
inline std::vector<PoolTour::Shown> nextStart(ProgramRig& rig, const std::function<void(ProgramRig&)>& atStart =
                                                                    [](ProgramRig& rig) { keptPoolTold(rig); })
{
    std::vector<PoolTour::Shown> shown;
    rig.runToTheEnd([&](ProgramRig& rig) {
        atStart(rig);
        if (::testing::Test::HasFatalFailure()) return;
        ProgramRig::settle(300ms);
        ProgramRig::dismissUpdateNotice();
        shown = PoolTour::shownPool();
        rig.quitWhenOffered();
    });
    return shown;
}

}  // namespace kept_run
