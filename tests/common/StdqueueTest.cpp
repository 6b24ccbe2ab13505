#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/Stdqueue.h"

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
