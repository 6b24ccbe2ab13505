#pragma once

// What a run cut short or failed at its end leaves in the scratch folder, and the start after it that
// shows the pool it kept.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/views/InterfaceTexts.h"

namespace kept_run {

using namespace std::chrono_literals;

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

// The start after such a run: the patch screen shows and says the last run's pool was kept, and that
// notice is closed; whether the screen and a notice came (the notice's words are checked here).
inline bool keptPoolToldAndClosed(ProgramRig& rig)
{
    if (!rig.showPatchScreen() || !ProgramRig::waitUntil(ProgramRig::informationShown, 30s)) return false;
    EXPECT_EQ(ProgramRig::informationText(), InterfaceTexts::localizedString("Main_PatchPoolKeptFromLastRun").toStdString());
    ProgramRig::closeInformation();
    return true;
}

// The same for a kept pool whose groups the saved library does not show as they are (one renamed or
// deleted): the rig's own wait for the patch screen looks for them, so the screen is only switched to.
inline bool keptPoolToldAndClosedAnyPool(ProgramRig& rig)
{
    WindowGestures::clickButton(rig.window(), "patchManagerButton");
    if (!ProgramRig::waitUntil(ProgramRig::informationShown, 30s)) return false;
    EXPECT_EQ(ProgramRig::informationText(), InterfaceTexts::localizedString("Main_PatchPoolKeptFromLastRun").toStdString());
    ProgramRig::closeInformation();
    return true;
}

}  // namespace kept_run
