#include "platform/notifications/NotificationCenter.h"

#include <atomic>
#include <vector>

namespace platform {

struct NotificationCenter::Entry {
    std::string name;
    const void* sender;
    Observer observer;
    std::atomic<bool> active{true};
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter;  // never destroyed: posts may come during exit
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* sender, Observer observer)
{
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->sender = sender;
    entry->observer = std::move(observer);
    std::lock_guard lock(mutex_);
    Token token = nextToken_++;
    observers_.emplace(token, std::move(entry));
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        auto found = observers_.find(token);
        if (found == observers_.end())
            return;
        entry = std::move(found->second);
        observers_.erase(found);
    }
    entry->active = false;
}

void NotificationCenter::post(const Notification& notification)
{
    // Callbacks run outside the lock, so they may add, remove and post; the snapshot keeps each entry
    // alive, and the flag skips one removed meanwhile.
    std::vector<std::shared_ptr<Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : observers_)
            if ((entry->name.empty() || entry->name == notification.name) &&
                (entry->sender == nullptr || entry->sender == notification.sender))
                matching.push_back(entry);
    }
    for (const auto& entry : matching)
        if (entry->active)
            entry->observer(notification);
}

void NotificationCenter::post(std::string name, const void* sender, UserInfo userInfo)
{
    post(Notification{std::move(name), sender, std::move(userInfo)});
}

}  // namespace platform
