#include "platform/plist/ClassList.h"

namespace platform {

namespace {

// Every object made without a list of its own shares this one.
const std::shared_ptr<const std::vector<std::string>>& rootOnly()
{
    static const auto names = std::make_shared<const std::vector<std::string>>(std::vector<std::string>{"NSObject"});
    return names;
}

}  // namespace

ClassList::ClassList() : names_(rootOnly()) {}

ClassList::ClassList(std::vector<std::string> names)
    : names_(std::make_shared<const std::vector<std::string>>(std::move(names)))
{
}

}  // namespace platform
