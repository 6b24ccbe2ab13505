#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The layout of a binary property list: header, objects, offset table, trailer. Reads the trailer and
// single objects' headers, each checked against the file's bounds; an empty text means success.
class BinaryPlistLayout {
public:
    BinaryPlistLayout(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::string readTrailer();

    std::uint64_t count() const { return count_; }
    std::uint64_t top() const { return top_; }

    struct Object {
        std::uint64_t refStart = 0;
        std::uint64_t refCount = 0;
        // The bytes the object's value takes after its marker and length (text units included).
        std::uint64_t payload = 0;
        bool dictionary = false;
        std::uint8_t marker = 0;
        unsigned type = 0;
        std::uint64_t start = 0;
    };

    // Reads one object's header.
    std::string object(std::uint64_t index, Object& out) const;
    // Whether an object can serve as a dictionary key: a string (ASCII or UTF-16) without a NUL character.
    // Reads the whole text.
    bool isKey(const Object& key) const;
    std::uint64_t ref(const Object& object, std::uint64_t i) const;
    const std::uint8_t* bytes(const Object& object) const { return data_ + object.start; }

    static std::uint64_t readBigEndian(const std::uint8_t* bytes, std::size_t width);

private:
    std::string fits(std::uint64_t position, std::uint64_t count, std::uint64_t width, Object& out) const;

    const std::uint8_t* data_;
    std::size_t size_;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t tableStart_ = 0;
};

}  // namespace platform
