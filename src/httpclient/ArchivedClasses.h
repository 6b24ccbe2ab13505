#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "httpclient/ArchiveDecodingBudget.h"
#include "platform/plist/ArchivedValue.h"

// The classes of one family an archive may name, by their archived class name, each with how to make a
// fresh object of it. A class registers itself where it is defined, so a program can decode exactly the
// classes it carries; an archive naming any other class is refused.
template <typename Base, typename... Arguments>
class ArchivedClasses {
public:
    using Factory = std::function<std::shared_ptr<Base>(Arguments...)>;

    static bool add(const std::string& className, Factory factory)
    {
        std::lock_guard guard(mutex());
        table()[className] = std::move(factory);
        return true;
    }

    // Nothing for a class not registered, or once the archive's decoding budget is spent: each object made
    // draws on it, as often as the archive refers to it.
    static std::shared_ptr<Base> make(const std::string& className, Arguments... arguments)
    {
        if (!ArchiveDecodingBudget::draw(ArchiveDecodingBudget::kObjectCost)) return nullptr;
        Factory factory;
        {
            std::lock_guard guard(mutex());
            auto found = table().find(className);
            if (found == table().end()) return nullptr;
            factory = found->second;
        }
        return factory(arguments...);
    }

    // A fresh object of the class an archived value names, once `read` took its fields; nothing for a value
    // that is no object, a class not registered, or fields `read` refuses.
    static std::shared_ptr<Base> decode(const platform::ArchivedValue& value,
                                        const std::function<bool(Base&, const platform::ArchivedObject&)>& read,
                                        Arguments... arguments)
    {
        ArchiveDecodingBudget budget;
        const auto* object = value.object();
        if (!object || !*object) return nullptr;
        std::shared_ptr<Base> made = make((*object)->className, arguments...);
        return made && read(*made, **object) ? made : nullptr;
    }

private:
    static std::map<std::string, Factory>& table()
    {
        static std::map<std::string, Factory> classes;
        return classes;
    }
    static std::mutex& mutex()
    {
        static std::mutex lock;
        return lock;
    }
};
