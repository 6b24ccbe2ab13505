#include "platform/text/VersionComparison.h"

#include <cstddef>

namespace platform {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Compares two digit runs by value without converting them, so any length works.
int compareNumbers(std::string_view a, std::string_view b)
{
    while (a.size() > 1 && a.front() == '0')
        a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0')
        b.remove_prefix(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::string_view digitRun(std::string_view text, std::size_t& at)
{
    std::size_t start = at;
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return text.substr(start, at - start);
}

}  // namespace

int VersionComparison::compare(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (int order = compareNumbers(digitRun(a, i), digitRun(b, j)); order != 0)
                return order;
            continue;
        }
        auto left = static_cast<unsigned char>(a[i++]);
        auto right = static_cast<unsigned char>(b[j++]);
        if (left != right)
            return left < right ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

}  // namespace platform
