#pragma once

#include <cstdint>
#include <vector>

// Array edits the path helpers and the coordinator build on. Where an edit does not apply, the array
// comes back unchanged rather than failing.
class NSArrayAddition {
public:
    template <class T>
    static bool isEmptyArray(const std::vector<T>* array)
    {
        return array == nullptr || array->empty();
    }

    // All but the first element; an array of fewer than two comes back whole (one element stays).
    template <class T>
    static std::vector<T> arrayByRemovingFirstObject(const std::vector<T>& array)
    {
        if (array.size() < 2) return array;
        return std::vector<T>(array.begin() + 1, array.end());
    }

    template <class T>
    static std::vector<T> arrayByRemovingLastObject(const std::vector<T>& array)
    {
        if (array.size() < 2) return array;
        return std::vector<T>(array.begin(), array.end() - 1);
    }

    // Removes `length` elements from `index` on. A not-found index (-1), an index past the end, or a
    // length that would take the whole array leave it unchanged; a run past the end keeps what precedes
    // it. Negative indexes and lengths are refused too.
    template <class T>
    static std::vector<T> arrayByRemovingObjectAtIndex(const std::vector<T>& array, std::int32_t index,
                                                       std::int32_t length)
    {
        const auto count = static_cast<std::int64_t>(array.size());
        if (index < 0 || length < 0 || index > count || length >= count) return array;
        std::vector<T> result(array.begin(), array.begin() + index);
        const std::int64_t resume = std::int64_t{index} + length;
        if (resume < count) result.insert(result.end(), array.begin() + resume, array.end());
        return result;
    }
};
