// Unpacks arbitrary bytes as an archive into a sandbox folder, from a file and from memory, and checks that
// nothing appeared anywhere in the sandbox but inside the destinations, and that both ways agree.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "server/ZipArchive.h"
#include "server/ZipArchiveService.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string pattern = (fs::temp_directory_path() / "rig-fuzz-zip-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 0;
    const fs::path sandbox(pattern);
    const auto archive = sandbox / "input.zip";
    const auto destination = sandbox / "out" / "dest";
    const auto heldDestination = sandbox / "out" / "held";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<long>(size));

    ZipArchive::Limits limits;
    limits.maxTotalBytes = 8u << 20;
    platform::Error error;
    bool held = false;
    ZipArchiveService::unzipData(ZipArchive::Bytes(data, data + size), "input.zip", heldDestination.string(),
                                 [&](bool ok, auto, auto) { held = ok; }, limits);
    const bool merged = ZipArchive::unzipFileAtPath(archive.string(), destination.string(), true, std::nullopt, &error,
                                                    nullptr, limits);
    bool replaced = false;
    ZipArchiveService::unzipFileAtPath(archive.string(), destination.string(),
                                       [&](bool ok, auto, auto) { replaced = ok; }, limits);

    for (const auto& item : fs::recursive_directory_iterator(sandbox)) {
        const auto relative = fs::relative(item.path(), sandbox).string();
        const bool inside = relative == "out" || relative == "out/dest" || relative.rfind("out/dest/", 0) == 0 ||
                            relative == "out/held" || relative.rfind("out/held/", 0) == 0;
        if (!inside && relative != "input.zip") {
            std::fprintf(stderr, "written outside the destination: %s\n", relative.c_str());
            std::abort();
        }
        if (item.is_symlink()) {
            std::fprintf(stderr, "link created: %s\n", relative.c_str());
            std::abort();
        }
    }
    if ((!merged && !replaced && fs::exists(destination)) || (!held && fs::exists(heldDestination))) {
        std::fprintf(stderr, "a failed unpack left a destination behind\n");
        std::abort();
    }
    // The same bytes unpack the same way whether they lie in a file or in memory.
    if (held != replaced) {
        std::fprintf(stderr, "unpacking from memory %s where from a file it %s\n", held ? "succeeded" : "failed",
                     replaced ? "succeeded" : "failed");
        std::abort();
    }
    fs::remove_all(sandbox);
    return 0;
}
