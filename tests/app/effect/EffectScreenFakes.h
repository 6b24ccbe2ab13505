#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/effect/EffectPoolPanel.h"
#include "app/effect/EffectScreenLogic.h"
#include "app/effect/EffectScreenViews.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "support/app/FakeEffectNeighbours.h"
#include "support/app/PoolNodes.h"

namespace effect_test {

using testing_app::groupNode;

// The widgets as the decisions see them: a selection, the arrows and the panel, and a log of reloads.
class FakeEffectViews final : public EffectScreenViews {
public:
    std::vector<std::size_t> selection;
    std::map<std::string, int> sortStates;
    std::vector<std::shared_ptr<DirectoryObject>> poolSelection;
    EffectPoolPanel panel;
    std::vector<std::string> calls;
    void reloadEffectTable() override { calls.push_back("reloadTable"); }
    void reloadEffectRow(std::size_t row) override { calls.push_back("reloadRow " + std::to_string(row)); }
    std::vector<std::size_t> selectedEffectRows() const override { return selection; }
    void selectEffectRows(const std::vector<std::size_t>& rows) override { selection = rows; }
    void scrollEffectRowToVisible(std::size_t row) override { calls.push_back("scrollTo " + std::to_string(row)); }
    void scrollEffectListToTop() override { calls.push_back("scrollToTop"); }
    void resignEffectListFocus() override { calls.push_back("resignFocus"); }
    void setSortStates(const std::map<std::string, int>& states) override { sortStates = states; }
    void reloadEffectPool() override { calls.push_back("reloadPool"); }
    void forceExpandTopNodes() override { calls.push_back("expandTop"); }
    std::vector<std::shared_ptr<DirectoryObject>> selectedPoolNodes() const override { return poolSelection; }
    void showPanel(const EffectPoolPanel& shown) override { panel = shown; }
    void validateRuler() override { calls.push_back("validateRuler"); }
    void redrawEffectManagerButton() override { calls.push_back("redrawTab"); }
};

inline std::shared_ptr<EffectItem> effect(const std::string& name, std::uint32_t type, std::int32_t category = 1,
                                          std::int64_t used = 0, bool favourite = false)
{
    auto item = std::make_shared<EffectItem>();
    item->effectName = name;
    item->effectType = type;
    item->effectCategoryID = category;
    item->effectCategory = "Cat" + std::to_string(category);
    item->effectUsedTimes = used;
    item->isFavourite = favourite;
    return item;
}

// A patch using the given effect types, one slot each.
inline std::shared_ptr<PatchItem> patchUsing(const std::vector<std::uint32_t>& types)
{
    auto patch = std::make_shared<PatchItem>();
    patch->effectDictionnary["NumberOfSlot"] = platform::PlistValue(static_cast<std::int64_t>(types.size()));
    for (std::size_t slot = 0; slot < types.size(); ++slot)
        patch->effectDictionnary["slot " + std::to_string(slot)] = platform::PlistValue(platform::PlistDictionary{
            {"effectType", platform::PlistValue(static_cast<std::int64_t>(types[slot]))},
            {"useUnitNum", platform::PlistValue(std::int64_t{1})}});
    return patch;
}

inline std::shared_ptr<DirectoryObject> leaf(const std::shared_ptr<EffectItem>& item)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = item->effectName;
    node->object = item;
    return node;
}

// The decisions over fakes; background and main work wait in lists until the test runs them.
struct LogicRig {
    testing_app::CallLog log;
    testing_app::FakeEffectCoordinator coordinator{log};
    testing_app::FakeEffectDialogs dialogs{log};
    FakeEffectViews views;
    bool connected = true;
    // The unit is being let go: it takes no change.
    bool unitGoing = false;
    std::vector<std::shared_ptr<PatchItem>> patches;
    bool patchesRead = true;
    std::vector<EffectScreenLogic::Task> background;
    std::vector<EffectScreenLogic::Task> main;
    EffectScreenLogic logic{EffectScreenLogic::Collaborators{
        coordinator, dialogs, views, [this] { return connected; },
        [this]() -> std::optional<EffectScreenLogic::PatchItems> {
            if (!patchesRead) return std::nullopt;
            return patches;
        },
        [this](EffectScreenLogic::Task task) { background.push_back(std::move(task)); },
        [this](EffectScreenLogic::Task task) { main.push_back(std::move(task)); },
        [this] { return !unitGoing; }}};
    LogicRig() { logic.awakeFromNib(); }
    static void runAll(std::vector<EffectScreenLogic::Task>& tasks)
    {
        for (auto& task : std::exchange(tasks, {})) task();
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const auto& item : logic.effectList()) names.push_back(item->effectName);
        return names;
    }
};

}  // namespace effect_test
