#pragma once

#include <filesystem>
#include <string>

// A saved patch pool of any size in the demo's data folder, as the program saves one: a hundred patches
// per group, numbered by position after the demo's own library (from kFirstGroup on). It shows how the
// program starts, loads and saves at the size a long-time user reaches.
class DemoLargePool {
public:
    // Writes `patches` patch files under "QFXMacApplication/Patch/Pool" of `dataFolder`; false (with
    // `error` set) when a file cannot be written.
    static bool seed(const std::filesystem::path& dataFolder, int patches, std::string& error);

    static constexpr int kPatchesPerGroup = 100;
    static constexpr int kFirstGroup = 100;
};
