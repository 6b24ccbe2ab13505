#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/Stdqueue.h"

TEST(Stdqueue, KeepsArrivalOrderAndAnswersNothingWhenEmpty)
{
    Stdqueue<std::string> queue;
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.dequeue(), std::nullopt);
    EXPECT_EQ(queue.front(), nullptr);
    EXPECT_EQ(queue.back(), nullptr);
    EXPECT_EQ(queue.count(), 0);

    queue.enqueue("first");
    queue.enqueue("second");
    queue.enqueue("third");
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
}

TEST(Stdqueue, HoldsMoveOnlyOperations)
{
    Stdqueue<std::unique_ptr<int>> queue;
    queue.enqueue(std::make_unique<int>(1));
    queue.enqueue(std::make_unique<int>(2));
    auto first = queue.dequeue();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(**first, 1);
    EXPECT_EQ(queue.count(), 1);
}
