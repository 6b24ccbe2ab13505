#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The names of an archived object's superclasses, nearest first, ending with the root class. A list never
// changes once made and its copies share it: the objects of one class read from an archive hold one list,
// however long it is and however many objects there are.
class ClassList {
public:
    using value_type = std::string;
    using const_iterator = std::vector<std::string>::const_iterator;
    using iterator = const_iterator;

    // The root class alone.
    ClassList();
    ClassList(std::vector<std::string> names);
    ClassList(std::initializer_list<std::string> names) : ClassList(std::vector<std::string>(names)) {}
    // A move shares the list like a copy: the one moved from still holds it, as every list must hold one
    // (containers and variants read what they moved from).
    ClassList(const ClassList&) = default;
    ClassList(ClassList&& other) noexcept : names_(other.names_) {}
    ClassList& operator=(const ClassList&) = default;
    ClassList& operator=(ClassList&& other) noexcept
    {
        names_ = other.names_;
        return *this;
    }

    const std::vector<std::string>& names() const { return *names_; }
    const_iterator begin() const { return names_->begin(); }
    const_iterator end() const { return names_->end(); }
    std::size_t size() const { return names_->size(); }
    bool empty() const { return names_->empty(); }

    friend bool operator==(const ClassList& a, const ClassList& b) { return a.names_ == b.names_ || *a.names_ == *b.names_; }
    friend bool operator==(const ClassList& a, const std::vector<std::string>& b) { return *a.names_ == b; }

private:
    std::shared_ptr<const std::vector<std::string>> names_;
};

}  // namespace platform
