#pragma once

#include <filesystem>

#include "support/library/PatchLibraryFixture.h"

// Transfers against the simulated unit (one group, two banks of three slots) after a real dump.
class PatchTransfer : public PatchLibrary {
protected:
    void SetUp() override
    {
        unit.patches().fillDefault();
        startLibrary();
        std::filesystem::create_directories(rootFolder + "/Temp/Local");
        connect();
        ASSERT_EQ(utils->allPatchDataList().size(), 6U);
        for (const auto& patch : recorder.lastPatches) dumpedNames.push_back(patch->patchName);
    }
    void TearDown() override { unit.releaseReplies(); }
    Strings dumpedNames;
    // Reads the unit again up to its dump and holds the unit's answer back: the dump result the test hands
    // in is the one the read waits for. The unit's own answer, released at the end, comes too late.
    void readUntilTheDump()
    {
        const auto dump = sim::RequestKey::maker(0x46);
        const auto before = unit.device().requestCount(dump);
        unit.holdReplies(dump);
        utils->connectionWithState(1, 0);
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(dump) > before; }));
    }
    std::shared_ptr<PatchItem> slotItem(std::size_t index) { return utils->getPatchItemWithPath(slotPath(index)); }
    std::string slotPath(std::size_t index) { return utils->allPatchDataList()[index].path; }
    // A copy of a slot's file under a new name, as the pool would hand it over.
    std::shared_ptr<PatchItem> edited(std::size_t index, const std::string& name)
    {
        auto made = item(utils->copyFileFromFilePath(slotPath(index), rootFolder + "/Temp/Local/x.qptc", false));
        made->patchName = name;
        made->patchComment = "c";  // a blank one would fill 200 bytes, more than the unit's slot holds
        EXPECT_TRUE(utils->editFilePatch(*made));
        return made;
    }
    // What the interface heard up to the first message starting with `prefix`, busy and idle left out.
    Strings heard(const std::string& prefix)
    {
        Strings got;
        loop.runUntil([&] {
            for (auto& e : recorder.take())
                if (e != "busy" && e != "idle" && e != "reset") got.push_back(std::move(e));
            return !got.empty() && got.back().rfind(prefix, 0) == 0;
        });
        return got;
    }
};

