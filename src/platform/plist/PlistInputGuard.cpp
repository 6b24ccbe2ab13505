#include "platform/plist/PlistInputGuard.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kTrailerSize = 32;
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint64_t kNodeCost = 16;

std::uint64_t readBigEndian(const std::uint8_t* bytes, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The binary layout: header, objects, offset table, trailer.
class BinaryLayout {
public:
    BinaryLayout(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::string readTrailer()
    {
        if (size_ < kHeaderSize + 2 + kTrailerSize)
            return "binary property list is truncated";
        if (std::memcmp(data_, "bplist00", kHeaderSize) != 0)
            return "binary property list has an unknown header";
        const std::uint8_t* trailer = data_ + size_ - kTrailerSize;
        offsetWidth_ = trailer[6];
        refWidth_ = trailer[7];
        count_ = readBigEndian(trailer + 8, 8);
        top_ = readBigEndian(trailer + 16, 8);
        tableStart_ = readBigEndian(trailer + 24, 8);
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8)
            return "binary property list has invalid integer widths";
        const std::uint64_t tableLimit = size_ - kTrailerSize;
        if (tableStart_ < kHeaderSize || tableStart_ >= tableLimit)
            return "binary property list offset table lies outside the file";
        if (count_ == 0 || count_ > (tableLimit - tableStart_) / offsetWidth_)
            return "binary property list object count does not fit the file";
        if (top_ >= count_)
            return "binary property list top object is out of range";
        return {};
    }

    std::uint64_t count() const { return count_; }
    std::uint64_t top() const { return top_; }

    struct Object {
        std::uint64_t refStart = 0;
        std::uint64_t refCount = 0;
        std::uint64_t payload = 0;
        bool dictionary = false;
        unsigned type = 0;
        std::uint64_t start = 0;
    };

    // Whether an object can serve as a dictionary key: a string (ASCII or UTF-16) without a NUL character,
    // which the parser's key accessor cannot handle.
    bool isKey(std::uint64_t index) const
    {
        Object key;
        if (!object(index, key).empty() || (key.type != 0x5 && key.type != 0x6))
            return false;
        const std::uint8_t* text = data_ + key.start;
        if (key.type == 0x5)
            return std::memchr(text, 0, key.payload) == nullptr;
        for (std::uint64_t i = 0; i + 1 < key.payload; i += 2) {
            if (text[i] == 0 && text[i + 1] == 0)
                return false;
        }
        return true;
    }

    // Reads one object's header; empty text on success.
    std::string object(std::uint64_t index, Object& out) const
    {
        const std::uint64_t offset = readBigEndian(data_ + tableStart_ + index * offsetWidth_, offsetWidth_);
        if (offset < kHeaderSize || offset >= tableStart_)
            return "binary property list object offset is out of range";
        const std::uint8_t marker = data_[offset];
        const unsigned type = marker >> 4;
        const unsigned info = marker & 0x0F;
        std::uint64_t position = offset + 1;
        out = Object{};
        out.type = type;
        switch (type) {
        case 0x0:
            return {};
        case 0x1:
        case 0x2:
            if (info > 4)
                return "binary property list number has an invalid width";
            return fits(position, std::uint64_t(1) << info, 1, out);
        case 0x3:
            return fits(position, 8, 1, out);
        case 0x8:
            return fits(position, info + 1, 1, out);
        default:
            break;
        }
        std::uint64_t length = info;
        if (info == 0x0F) {
            if (position >= tableStart_)
                return "binary property list length lies outside the objects";
            const std::uint8_t lengthMarker = data_[position];
            if ((lengthMarker >> 4) != 0x1 || (lengthMarker & 0x0F) > 3)
                return "binary property list length is malformed";
            const std::uint64_t width = std::uint64_t(1) << (lengthMarker & 0x0F);
            if (position + 1 + width > tableStart_)
                return "binary property list length lies outside the objects";
            length = readBigEndian(data_ + position + 1, width);
            position += 1 + width;
        }
        switch (type) {
        case 0x4:
        case 0x5:
            return fits(position, length, 1, out);
        case 0x6:
            return fits(position, length, 2, out);
        case 0xA:
        case 0xC:
        case 0xD: {
            const std::uint64_t refs = type == 0xD ? length * 2 : length;
            if (type == 0xD && length > UINT64_MAX / 2)
                return "binary property list container is too large";
            if (std::string why = fits(position, refs, refWidth_, out); !why.empty())
                return why;
            out.refStart = position;
            out.refCount = refs;
            out.payload = 0;
            out.dictionary = type == 0xD;
            return {};
        }
        default:
            return "binary property list holds an unknown object type";
        }
    }

    std::uint64_t ref(const Object& object, std::uint64_t i) const
    {
        return readBigEndian(data_ + object.refStart + i * refWidth_, refWidth_);
    }

private:
    std::string fits(std::uint64_t position, std::uint64_t count, std::uint64_t width, Object& out) const
    {
        if (position > tableStart_ || count > (tableStart_ - position) / width)
            return "binary property list object runs past the object area";
        out.start = position;
        out.payload = count * width;
        return {};
    }

    const std::uint8_t* data_;
    std::size_t size_;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t tableStart_ = 0;
};

}  // namespace

std::string PlistInputGuard::checkBinary(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxInputBytes)
        return "property list is too large";
    BinaryLayout layout(data, size);
    if (std::string why = layout.readTrailer(); !why.empty())
        return why;

    // Depth-first walk from the top object, each object finished once: its depth and expanded cost are
    // kept, so shared objects are not walked again and a cycle is seen when an object on the path recurs.
    enum : std::uint8_t { kUnseen, kOnPath, kDone };
    const std::uint64_t count = layout.count();
    std::vector<std::uint8_t> state(count, kUnseen);
    std::vector<std::uint32_t> depth(count, 0);
    std::vector<std::uint64_t> cost(count, 0);
    struct Frame {
        std::uint64_t index;
        BinaryLayout::Object object;
        std::uint64_t next;
    };
    std::vector<Frame> path;

    auto enter = [&](std::uint64_t index) -> std::string {
        if (path.size() >= static_cast<std::size_t>(kMaxDepth))
            return "property list nests too deeply";
        Frame frame{index, {}, 0};
        if (std::string why = layout.object(index, frame.object); !why.empty())
            return why;
        state[index] = kOnPath;
        cost[index] = kNodeCost + frame.object.payload;
        path.push_back(frame);
        return {};
    };

    if (std::string why = enter(layout.top()); !why.empty())
        return why;
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.object.refCount) {
            const std::uint64_t finished = frame.index;
            state[finished] = kDone;
            path.pop_back();
            if (!path.empty()) {
                const std::uint64_t parent = path.back().index;
                depth[parent] = std::max(depth[parent], depth[finished] + 1);
                cost[parent] = saturatingAdd(cost[parent], cost[finished]);
                if (cost[parent] > kMaxExpandedBytes)
                    return "property list expands beyond the size limit";
            }
            continue;
        }
        const std::uint64_t child = layout.ref(frame.object, frame.next++);
        if (child >= count)
            return "binary property list refers to an object out of range";
        if (frame.object.dictionary && frame.next <= frame.object.refCount / 2 && !layout.isKey(child))
            return "binary property list has a dictionary key that is not a plain string";
        if (state[child] == kOnPath)
            return "binary property list refers to itself in a cycle";
        if (state[child] == kDone) {
            const std::uint64_t parent = frame.index;
            if (depth[child] + 1 + path.size() > static_cast<std::size_t>(kMaxDepth))
                return "property list nests too deeply";
            depth[parent] = std::max(depth[parent], depth[child] + 1);
            cost[parent] = saturatingAdd(cost[parent], cost[child]);
            if (cost[parent] > kMaxExpandedBytes)
                return "property list expands beyond the size limit";
            continue;
        }
        if (std::string why = enter(child); !why.empty())
            return why;
    }
    return {};
}

std::string PlistInputGuard::checkXml(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxInputBytes)
        return "property list is too large";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Open containers, innermost last; a closing tag must match, so a stray one cannot hide nesting.
    std::string open;
    std::size_t position = 0;
    auto skipPast = [&](std::string_view end) {
        const std::size_t found = text.find(end, position);
        position = found == std::string_view::npos ? text.size() : found + end.size();
    };
    auto isTagEnd = [&](std::size_t at) {
        return at >= text.size() || text[at] == '>' || text[at] == '/' || text[at] == ' ' || text[at] == '\t' ||
               text[at] == '\r' || text[at] == '\n';
    };
    // The parser accepts a document cut off after its top value; a file cut short is still an error here.
    std::string_view trimmed = text;
    while (!trimmed.empty() && std::string_view(" \t\r\n\0", 5).find(trimmed.back()) != std::string_view::npos)
        trimmed.remove_suffix(1);
    if (text.find("<plist") != std::string_view::npos && !trimmed.ends_with("</plist>"))
        return "XML property list is truncated";
    // XML text never holds a NUL character; the parser would cut the text short there.
    if (trimmed.find('\0') != std::string_view::npos)
        return "XML property list holds a NUL character";
    while ((position = text.find('<', position)) != std::string_view::npos) {
        const std::string_view rest = text.substr(position);
        if (rest.starts_with("<!--")) {
            skipPast("-->");
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
            continue;
        }
        const bool closing = rest.starts_with("</");
        const std::size_t nameStart = position + (closing ? 2 : 1);
        char kind = 0;
        if (text.compare(nameStart, 5, "array") == 0 && isTagEnd(nameStart + 5))
            kind = 'a';
        else if (text.compare(nameStart, 4, "dict") == 0 && isTagEnd(nameStart + 4))
            kind = 'd';
        const std::size_t tagEnd = text.find('>', position);
        if (tagEnd == std::string_view::npos)
            break;
        position = tagEnd + 1;
        if (kind == 0)
            continue;
        if (closing) {
            if (open.empty() || open.back() != kind)
                return "XML property list has mismatched container tags";
            open.pop_back();
        } else if (text[tagEnd - 1] != '/') {
            open.push_back(kind);
            if (open.size() > static_cast<std::size_t>(kMaxDepth))
                return "property list nests too deeply";
        }
    }
    return {};
}

}  // namespace platform
