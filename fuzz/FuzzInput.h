#pragma once

// Small helpers the targets share: a failed invariant aborts so libFuzzer keeps the input, and one
// input splits into several texts at NUL bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fuzzinput {

inline void check(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The input cut at NUL bytes into at least `count` parts (missing ones empty); the last part keeps any
// further NULs.
inline std::vector<std::string_view> parts(const std::uint8_t* data, std::size_t size, std::size_t count)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> out;
    while (out.size() + 1 < count) {
        const auto cut = rest.find('\0');
        if (cut == std::string_view::npos) break;
        out.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    out.push_back(rest);
    out.resize(count);
    return out;
}

}  // namespace fuzzinput
