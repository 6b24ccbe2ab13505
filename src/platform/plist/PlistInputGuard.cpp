#include "platform/plist/PlistInputGuard.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/plist/BinaryPlistLayout.h"
#include "platform/plist/PlistValue.h"

namespace platform {

namespace {

// Malloc's own header and rounding on each heap block.
constexpr std::uint64_t kBlockOverhead = 16;
// A dictionary entry's tree node beyond its key and value: three links and a colour, in a block of its own.
constexpr std::uint64_t kEntryOverhead = 4 * sizeof(void*) + kBlockOverhead;

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// What one parsed object costs in memory each time it is referenced: its value slot in the parent, the
// heap block of its text or bytes (UTF-16 grows to up to three bytes a unit in UTF-8), the element block
// of an array, and a tree node for each dictionary entry. A key's slot is counted like a value's, which
// covers the key text's own slot in the entry.
std::uint64_t nodeCost(const BinaryPlistLayout::Object& object)
{
    std::uint64_t cost = sizeof(PlistValue);
    switch (object.type) {
    case 0x4:
    case 0x5:
        if (object.payload > 0)
            cost += object.payload + kBlockOverhead;
        break;
    case 0x6:
        if (object.payload > 0)
            cost += object.payload / 2 * 3 + kBlockOverhead;
        break;
    case 0xA:
    case 0xC:
        if (object.refCount > 0)
            cost += kBlockOverhead;
        break;
    case 0xD:
        cost += object.refCount / 2 * kEntryOverhead;
        break;
    default:
        break;
    }
    return cost;
}

}  // namespace

std::string PlistInputGuard::checkBinary(const std::uint8_t* data, std::size_t size, Tally* tally)
{
    Tally unused;
    Tally& t = tally != nullptr ? *tally : unused;
    t = Tally{};
    if (size > kMaxInputBytes)
        return "property list is too large";
    BinaryPlistLayout layout(data, size);
    if (std::string why = layout.readTrailer(); !why.empty())
        return why;

    // Depth-first walk from the top object, each object finished once: its depth and expanded cost are
    // kept, so shared objects are not walked again and a cycle is seen when an object on the path recurs.
    // Whether an object may serve as a key is judged once too, the first time it stands as one.
    enum : std::uint8_t { kUnseen, kOnPath, kDone };
    enum : std::uint8_t { kUnjudged, kKey, kNotKey };
    const std::uint64_t count = layout.count();
    std::vector<std::uint8_t> state(count, kUnseen);
    std::vector<std::uint8_t> keyVerdict(count, kUnjudged);
    std::vector<std::uint32_t> depth(count, 0);
    std::vector<std::uint64_t> cost(count, 0);
    struct Frame {
        std::uint64_t index;
        BinaryPlistLayout::Object object;
        std::uint64_t next;
    };
    std::vector<Frame> path;

    // What the walk has charged so far, each reference as it is met: the whole tree is charged once the
    // walk ends, so the bound holds for the whole walk, however many containers stand open.
    std::uint64_t charged = 0;
    auto charge = [&](std::uint64_t amount) {
        charged = saturatingAdd(charged, amount);
        return charged <= kMaxExpandedBytes;
    };
    auto isKey = [&](std::uint64_t index, const BinaryPlistLayout::Object& object) {
        if (keyVerdict[index] == kUnjudged) {
            t.steps += object.payload;
            keyVerdict[index] = layout.isKey(object) ? kKey : kNotKey;
        }
        return keyVerdict[index] == kKey;
    };

    BinaryPlistLayout::Object top;
    ++t.steps;
    if (std::string why = layout.object(layout.top(), top); !why.empty())
        return why;
    state[layout.top()] = kOnPath;
    cost[layout.top()] = nodeCost(top);
    if (!charge(cost[layout.top()]))
        return "property list expands beyond the size limit";
    path.push_back(Frame{layout.top(), top, 0});
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
            }
            continue;
        }
        ++t.steps;
        const std::uint64_t child = layout.ref(frame.object, frame.next++);
        const bool asKey = frame.object.dictionary && frame.next <= frame.object.refCount / 2;
        const std::uint64_t parent = frame.index;
        if (child >= count)
            return "binary property list refers to an object out of range";
        if (state[child] == kOnPath)
            return asKey ? "binary property list has a dictionary key that is not a plain string"
                         : "binary property list refers to itself in a cycle";
        if (state[child] == kDone) {
            // A finished object is charged all it expands to before anything else is done with it.
            if (!charge(cost[child]))
                return "property list expands beyond the size limit";
            if (asKey && keyVerdict[child] != kKey) {
                BinaryPlistLayout::Object key;
                ++t.steps;
                if (!layout.object(child, key).empty() || !isKey(child, key))
                    return "binary property list has a dictionary key that is not a plain string";
            }
            if (depth[child] + 1 + path.size() > static_cast<std::size_t>(kMaxDepth))
                return "property list nests too deeply";
            depth[parent] = std::max(depth[parent], depth[child] + 1);
            cost[parent] = saturatingAdd(cost[parent], cost[child]);
            continue;
        }
        if (path.size() >= static_cast<std::size_t>(kMaxDepth))
            return "property list nests too deeply";
        Frame entered{child, {}, 0};
        ++t.steps;
        if (std::string why = layout.object(child, entered.object); !why.empty())
            return asKey ? "binary property list has a dictionary key that is not a plain string" : why;
        cost[child] = nodeCost(entered.object);
        if (!charge(cost[child]))
            return "property list expands beyond the size limit";
        if (asKey && !isKey(child, entered.object))
            return "binary property list has a dictionary key that is not a plain string";
        state[child] = kOnPath;
        path.push_back(entered);
    }
    t.expandedCost = cost[layout.top()];
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
