#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

using UserInfo = std::map<std::string, std::any>;

struct Notification {
    std::string name;
    const void* sender = nullptr;
    UserInfo userInfo;
};

// An in-process notification centre. Posting calls every matching observer synchronously, on the
// posting thread, in the order they were added. Any thread may add, remove or post, and an observer may
// do so from inside its own callback: an observer removed during a post is not called after its
// removal returns on that thread, and one added during a post first hears the next post.
class NotificationCenter {
public:
    using Token = std::uint64_t;
    using Observer = std::function<void(const Notification&)>;

    // The process-wide centre, for notifications that any part of the program may observe.
    static NotificationCenter& defaultCenter();

    // `name` empty observes every name; `sender` null observes every sender. The token removes it.
    Token addObserver(std::string name, const void* sender, Observer observer);
    // Unknown or already removed tokens are ignored.
    void removeObserver(Token token);

    void post(const Notification& notification);
    void post(std::string name, const void* sender = nullptr, UserInfo userInfo = {});

private:
    struct Entry;

    std::mutex mutex_;
    Token nextToken_ = 1;
    std::map<Token, std::shared_ptr<Entry>> observers_;
};

}  // namespace platform
