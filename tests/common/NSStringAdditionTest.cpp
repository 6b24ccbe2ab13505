#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/NSArrayAddition.h"
#include "common/NSStringAddition.h"
#include "common/Stdqueue.h"

using S = NSStringAddition;

TEST(NSStringAddition, BlankAndContainsTreatNullAsAbsent)
{
    EXPECT_TRUE(S::isBlankString(std::nullopt));
    EXPECT_TRUE(S::isBlankString(""));
    EXPECT_FALSE(S::isBlankString(" "));
    EXPECT_TRUE(S::isBlankCharacterString("   "));
    EXPECT_FALSE(S::isBlankCharacterString(" a "));
    EXPECT_FALSE(S::containsString(std::nullopt, "a"));
    EXPECT_FALSE(S::containsString("abc", std::nullopt));
    EXPECT_FALSE(S::containsString("abc", ""));
    EXPECT_TRUE(S::containsString("abc", "bc"));
    EXPECT_FALSE(S::containsString("abc", "cd"));
}

TEST(NSStringAddition, ComponentsKeepTheRootIgnoreRepeatedSlashesAndAreDeletedOrReplacedAsARun)
{
    EXPECT_EQ(S::stringByDeletingFirstComponent("/a/b/c"), "b/c");
    EXPECT_EQ(S::stringByDeletingFirstComponent("a/b"), "b");
    EXPECT_EQ(S::stringByDeletingFirstComponent("a"), "a");
    EXPECT_EQ(S::stringByDeletingFirstComponent("/"), "/");
    // The root component survives and joins with a second slash; callers rely on this form.
    EXPECT_EQ(S::stringByDeletingPathComponent("/x/Temp/Local/f", "Temp/Local"), "//x/f");
    // Only the first component of the argument is compared.
    EXPECT_EQ(S::stringByDeletingPathComponent("a/Temp/Other/f", "Temp/Local"), "a/f");
    EXPECT_EQ(S::stringByDeletingPathComponent("a/b/Temp", "Temp/Local"), "a/b");
    EXPECT_EQ(S::stringByDeletingPathComponent("a//b", "a/b/c"), "a/b");
    EXPECT_EQ(S::stringByDeletingPathComponent("a//b", "zz"), "a//b");
    EXPECT_EQ(S::stringByDeletingPathComponent("a/b", ""), "a/b");
    EXPECT_EQ(S::stringByDeletingFromPathComponent("a/b/c", "b"), "b/c");
    EXPECT_EQ(S::stringByDeletingToPathComponent("a/b/c", "b"), "a");
    EXPECT_EQ(S::stringByDeletingToPathComponent("a/b/c", "a"), "a/b/c");
    EXPECT_EQ(S::stringByDeletingToPathComponent("a/b/c", "q"), "a/b/c");
    using C = std::vector<std::string>;
    EXPECT_EQ(S::pathComponents("/a//b/"), (C{"/", "a", "b"}));
    EXPECT_EQ(S::pathComponents("//x/f"), (C{"/", "x", "f"}));
    EXPECT_EQ(S::pathComponents(""), C{});
    EXPECT_TRUE(S::isEqualToPath("a/b", "a//b/"));
    EXPECT_FALSE(S::isEqualToPath("a/b", "a/b/c"));
    EXPECT_FALSE(S::isEqualToPath("/a/b", "a/b"));
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("Temp/Local/[1] Old/a", "[1] Old", "[1] New"), "Temp/Local/[1] New/a");
    // One component: the later occurrence is replaced.
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("x/a/x/b", "x", "y"), "x/a/y/b");
    // Several: the first full occurrence, skipping a partial one.
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b/a/c/a/c", "a/c", "n/m"), "a/b/n/m/a/c");
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b/c/d", "b/c", ""), "a/d");
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b/c/d", "b/c", "n"), "a/n/c/d");
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b/c/d", "b/c", "n/m/o"), "a/n/m/d");
    // A run cut short by the end of the path is no match.
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b/c", "c/d", "n"), "a/b/c");
    EXPECT_EQ(S::stringByReplacingOccurrencesOfComponent("a/b", "a/b/c/d/e", "n"), "a/b");
}

TEST(NSArrayAddition, EditsThatDoNotApplyLeaveTheArrayWhole)
{
    using V = std::vector<int>;
    const V five{0, 1, 2, 3, 4};
    EXPECT_TRUE(NSArrayAddition::isEmptyArray<int>(nullptr));
    EXPECT_EQ(NSArrayAddition::arrayByRemovingFirstObject(V{7}), V{7});
    EXPECT_EQ(NSArrayAddition::arrayByRemovingLastObject(five), (V{0, 1, 2, 3}));
    const struct { int index, count; V expected; } cases[] = {{1, 2, {0, 3, 4}}, {3, 4, {0, 1, 2}}, {-1, 1, five}, {-3, 1, five},
                                                               {1, -2, five},     {6, 1, five},      {0, 5, five}};
    for (const auto& c : cases) EXPECT_EQ(NSArrayAddition::arrayByRemovingObjectAtIndex(five, c.index, c.count), c.expected) << c.index << "," << c.count;
}

// Arrival order is kept, an empty queue answers nothing, and move-only operations are held.
TEST(Stdqueue, KeepsArrivalOrderAndAnswersNothingWhenEmpty)
{
    Stdqueue<std::string> queue;
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.dequeue(), std::nullopt);
    EXPECT_EQ(queue.front(), nullptr);
    EXPECT_EQ(queue.back(), nullptr);
    EXPECT_EQ(queue.count(), 0);
    for (const char* text : {"first", "second", "third"}) queue.enqueue(text);
    EXPECT_EQ(queue.size(), 3u);
    EXPECT_EQ(*queue.front(), "first");
    EXPECT_EQ(*queue.back(), "third");
    EXPECT_EQ(queue.dequeue(), "first");
    EXPECT_EQ(queue.dequeue(), "second");
    queue.enqueue("fourth");
    EXPECT_EQ(queue.dequeue(), "third");
    EXPECT_EQ(queue.dequeue(), "fourth");
    EXPECT_EQ(queue.dequeue(), std::nullopt);
    EXPECT_TRUE(queue.empty());

    Stdqueue<std::unique_ptr<int>> operations;
    operations.enqueue(std::make_unique<int>(1));
    operations.enqueue(std::make_unique<int>(2));
    auto first = operations.dequeue();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(**first, 1);
    EXPECT_EQ(operations.count(), 1);
}
