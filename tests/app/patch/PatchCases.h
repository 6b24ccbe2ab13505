#pragma once

// What the patch tier's tests share: pool nodes and names read back, collaborators that log, and the patch
// screen's rig with the questions its tests ask.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/app/Events.h"
#include "support/app/PatchScreenRig.h"
#include "support/app/PoolNodes.h"

namespace testing_app {

using Node = std::shared_ptr<DirectoryObject>;
using Names = std::vector<std::string>;
using Log = std::vector<std::string>;
using Rows = std::vector<std::uint64_t>;

// `prefix`0, `prefix`1, ... in the local pool.
inline std::vector<Node> patchNodes(const std::string& prefix, int count)
{
    std::vector<Node> nodes;
    for (int i = 0; i < count; ++i) nodes.push_back(patchNode(prefix + std::to_string(i)));
    return nodes;
}

inline Names namesOf(const std::vector<Node>& nodes)
{
    Names out;
    for (const auto& node : nodes) out.push_back(node ? node->name.value_or("") : "-");
    return out;
}

inline Names namesOf(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    Names out;
    for (const auto& each : items) out.push_back(each ? each->patchName : "-");
    return out;
}

// ---- collaborators that log their name and arguments: "name arg arg" ----
inline void appendLogged(std::string& line, const std::string& text)
{
    if (!text.empty()) line += (line.empty() ? "" : " ") + text;
}
inline void appendLogged(std::string& line, const std::optional<std::string>& text)
{
    if (text) appendLogged(line, *text);
}
template <std::integral Number>
void appendLogged(std::string& line, Number number)
{
    appendLogged(line, std::to_string(number));
}
inline void appendLogged(std::string& line, const Node& node) { appendLogged(line, node ? node->name.value_or("?") : "-"); }
template <typename Each>
void appendLogged(std::string& line, const std::vector<Each>& list)
{
    for (const auto& each : list) appendLogged(line, each);
}

inline auto logs(Log& log, std::string name)
{
    return [&log, name](const auto&... arguments) {
        std::string line = name;
        (appendLogged(line, arguments), ...);
        log.push_back(line);
    };
}

// The patch screen's rig with its two views at hand and the questions its tests ask of the pool, the
// undo stack and the log.
class PatchScreenCases : public PatchScreenRig {
protected:
    PatchPoolOutlineView& pool() { return *screen->rightPanelOutlineView(); }
    CustomTableViewForPatch& list() { return *screen->patchManagerTableView(); }

    // Loads `count` slots whose patches name files of `folder`, as the unit's working copies do.
    void loadWithPaths(std::size_t count, const std::string& folder = "/root/Device/Patch/")
    {
        load(count);
        for (const auto& item : screen->patchItems()) item->path = folder + item->patchName + ".qptc";
    }
    void setPool(std::vector<Node> nodes, const std::vector<int>& expandedRows = {})
    {
        screen->setStructureData(std::move(nodes));
        screen->reloadDataInPatchPool();
        for (const int row : expandedRows) pool().expandItem(pool().indexForRow(row));
        log.clear();
    }
    void selectPool(const std::vector<int>& rows) { pool().selectRows(rows); }
    void selectList(const Rows& rows) { list().setUpCurrentSelectionWithIndexSet(rows, false); }
    int poolRowOf(const Node& node) { return pool().rowForIndex(pool().poolModel()->indexOf(node.get())); }

    // The newest record, as `Record`.
    template <typename Record>
    std::shared_ptr<Record> lastRecord() const
    {
        return undo.actionStack().empty() ? nullptr : std::dynamic_pointer_cast<Record>(undo.actionStack().front());
    }
    std::size_t records() const { return undo.actionStack().size(); }
    // Whether the stack reaches `count` records once what is under way has landed.
    bool recordsReach(std::size_t count)
    {
        return processEventsUntil([&] { return records() == count; }, std::chrono::seconds(2));
    }
    Names topNames() const { return namesOf(screen->structureData()); }
    // The names of the `count` slots from `first` on.
    Names namesAt(std::size_t first, std::size_t count) const
    {
        const Names all = names();
        return Names(all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(first + count));
    }
    bool logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    long loggedTimes(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
    // The entries of the log that hold `part`.
    Names loggedWith(const std::string& part) const
    {
        Names found;
        std::copy_if(log.begin(), log.end(), std::back_inserter(found),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
        return found;
    }
};

}  // namespace testing_app
