#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/patch/NeighbourPutBack.h"
#include "support/app/PoolNodes.h"

namespace {

using Node = NeighbourPutBack::Node;
using Nodes = NeighbourPutBack::Nodes;

std::string namesOf(const Nodes& list)
{
    std::string text;
    for (const Node& node : list) text += node->name.value_or("?");
    return text;
}

// A list "ABCDE" from which the items named went, and then those named as gone since (a copy that failed
// after the deletion) or come since (an addition), put back all at once: each after the nearest of its
// former neighbours before it that the list still holds, in their former order.
TEST(NeighbourPutBack, EachComesBackAfterItsNearestFormerNeighbourStillThere)
{
    struct Case {
        const char* deleted;
        const char* goneSince;
        const char* cameInFront;
        const char* expected;
    };
    const Case cases[] = {
        {"BD", "", "", "ABCDE"},
        {"AE", "", "", "ABCDE"},
        {"BCD", "", "", "ABCDE"},
        {"ABCDE", "", "", "ABCDE"},
        {"BD", "C", "", "ABDE"},
        {"B", "A", "", "BCDE"},
        {"DB", "", "", "ABCDE"},
        {"BD", "", "X", "XABCDE"},
        {"A", "", "X", "AXBCDE"},
        {"CDE", "AB", "", "CDE"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.deleted + std::string(" gone ") + each.goneSince);
        std::map<char, Node> nodes;
        Nodes list;
        for (const char name : std::string("ABCDE")) list.push_back(nodes[name] = testing_app::poolPatch(std::string(1, name)));
        const auto neighbours = std::make_shared<const NeighbourPutBack::Neighbours>(list.begin(), list.end());
        const auto without = [&](const std::string& names) {
            std::erase_if(list, [&](const Node& node) { return names.find(node->name->front()) != std::string::npos; });
        };
        without(each.deleted);
        without(each.goneSince);
        for (const char name : std::string(each.cameInFront)) list.insert(list.begin(), testing_app::poolPatch(std::string(1, name)));
        NeighbourPutBack putBack;
        // The undo puts back the last deleted first.
        const std::string deleted = each.deleted;
        for (auto name = deleted.rbegin(); name != deleted.rend(); ++name)
            putBack.add(list, neighbours, static_cast<std::size_t>(std::string("ABCDE").find(*name)), nodes[*name]);
        EXPECT_FALSE(putBack.empty());
        putBack.place();
        EXPECT_TRUE(putBack.empty());
        EXPECT_EQ(namesOf(list), each.expected);
    }
}

}  // namespace
