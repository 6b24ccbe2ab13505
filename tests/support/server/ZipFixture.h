#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>

#include "server/ZipArchive.h"
#include "server/ZipArchiveService.h"
#include "support/files/TemporaryFolder.h"
#include "support/server/ZipMaker.h"

// Archives made in a temporary folder and unpacked into it, with their failure codes and dates at hand.
namespace support::zipfixture {

namespace fs = std::filesystem;
using zipmaker::Entry;
using Listing = std::set<std::string>;

// What the replace-a-folder service reported.
struct Serviced {
    int calls = 0;
    bool ok = false;
    std::optional<std::string> path;
    std::optional<platform::Error> error;
};

struct ZipFixture : ::testing::Test {
    TemporaryFolder folder;
    fs::path root{folder.path()};
    fs::path archive = root / "in" / "effect.zip";
    fs::path destination = root / "out" / "Effect";

    void SetUp() override { fs::create_directories(archive.parent_path()); }

    void make(const std::vector<Entry>& entries) { ASSERT_TRUE(zipmaker::write(archive, entries)); }

    bool unzip(platform::Error& error, const ZipArchive::Limits& limits = ZipArchive::Limits{}, bool overwrite = true,
               ZipArchiveDelegate* delegate = nullptr)
    {
        return ZipArchive::unzipFileAtPath(archive, destination, overwrite, std::nullopt, &error, delegate, limits);
    }

    // The service given the archive's path, or its bytes as a download held in memory hands them over.
    Serviced service(bool held, const ZipArchive::Limits& limits = ZipArchive::Limits{})
    {
        Serviced out;
        const auto block = [&](bool ok, std::optional<std::string> path, std::optional<platform::Error> error) {
            out = {out.calls + 1, ok, path, error};
        };
        const auto text = zipmaker::readFile(archive);
        if (held) ZipArchiveService::unzipData(ZipArchive::Bytes(text.begin(), text.end()), "held.zip", destination.string(), block, limits);
        else ZipArchiveService::unzipFileAtPath(archive, destination, block, limits);
        EXPECT_EQ(out.calls, 1);
        return out;
    }

    // Every path below `folder`, relative to it.
    static Listing listing(const fs::path& folder)
    {
        Listing names;
        if (!fs::exists(folder)) return names;
        for (const auto& item : fs::recursive_directory_iterator(folder)) names.insert(fs::relative(item.path(), folder).string());
        return names;
    }

    // A failed unpack must leave nothing beside the destination either (no staging folder, no strays).
    void expectNothingWritten()
    {
        EXPECT_EQ(listing(root / "out"), Listing{});
        EXPECT_EQ(listing(root / "in"), Listing{"effect.zip"});
        EXPECT_EQ(listing(root).count("evil"), 0u);
    }
};

struct Recorder : ZipArchiveDelegate {
    std::vector<std::string> events;
    void zipArchiveWillUnzipArchiveAtPath(const std::string&, const ZipArchiveInfo& info) override
    {
        events.push_back("start " + std::to_string(info.numberEntry));
    }
    void zipArchiveWillUnzipFileAtIndex(std::int64_t i, std::int64_t n, const std::string&, const ZipArchiveFileInfo&) override
    {
        events.push_back("will " + std::to_string(i) + "/" + std::to_string(n));
    }
    void zipArchiveDidUnzipFileAtIndex(std::int64_t i, std::int64_t n, const std::string&, const ZipArchiveFileInfo&) override
    {
        events.push_back("did " + std::to_string(i) + "/" + std::to_string(n));
    }
    void zipArchiveDidUnzipArchiveAtPath(const std::string&, const ZipArchiveInfo&, const std::string&) override { events.push_back("end"); }
};

inline unsigned long dosDate(int year, int month, int day, int hour, int minute, int second)
{
    return static_cast<unsigned long>(((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | (second / 2));
}

inline ZipArchive::Limits limits(std::uint64_t bytes, std::uint64_t entries) { return ZipArchive::Limits{bytes, entries}; }

inline std::time_t mtime(const fs::path& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mtime;
}

inline Entry dated(Entry entry, unsigned long date)
{
    entry.dosDate = date;
    return entry;
}

}  // namespace support::zipfixture
