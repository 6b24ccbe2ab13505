#include <gtest/gtest.h>

#include "platform/error/Error.h"

using platform::Error;

TEST(Error, DescribesTheWholeChainOfCauses)
{
    auto disk = std::make_shared<const Error>(Error::make("posix", 28, "No space left on device"));
    auto stream = std::make_shared<const Error>(Error::make("stream", 2, "write failed", {}, disk));
    Error top = Error::make("http", -1, "download failed", {{"url", "http://127.0.0.1/x.zip"}}, stream);
    EXPECT_EQ(top.info("url"), "http://127.0.0.1/x.zip");
    EXPECT_EQ(top.info("missing"), "");
    EXPECT_EQ(top.describe(),
              "http -1: download failed\n  caused by stream 2: write failed\n  caused by posix 28: No space left on device");
}
