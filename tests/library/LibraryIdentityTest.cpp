// The library's identity as a start takes it after its load: from the digests of the files the load read,
// the same as from the files read again, and at a few allocations per file, as the listing costs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "library/LibraryIdentity.h"
#include "platform/files/LocalFileManager.h"
#include "support/files/TemporaryFolder.h"

// The thread sanitizer's runtime defines the allocation operators itself, so they cannot be replaced to
// count there; the other builds count.
#if defined(__SANITIZE_THREAD__)
#define RIG_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RIG_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef RIG_COUNTS_ALLOCATIONS
#define RIG_COUNTS_ALLOCATIONS 1
#endif

namespace {

// Allocations made by operator new while counting is on.
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};

}  // namespace

#if RIG_COUNTS_ALLOCATIONS
// Never inlined: an optimising compiler that sees a block from operator new reach free() inside an inlined
// operator delete takes the pair for a mismatch. The nothrow forms are replaced too, since the library's
// temporary buffers (a stable sort's) take them and hand them back to the plain delete: left to the
// address sanitizer's runtime, that pair is a mismatch there.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
#endif

namespace {

namespace fs = std::filesystem;

TEST(LibraryIdentity, TakenFromTheLoadsDigestsItIsTheSameAndCostsAFewAllocationsPerFile)
{
    if (!RIG_COUNTS_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under the thread sanitizer";
    constexpr int kGroups = 20;
    constexpr int kPerGroup = 100;
    TemporaryFolder root;
    const std::string library = root / "Library";
    // Each file's digest by its place in the library, as the load takes them.
    LibraryIdentity::Known known;
    const auto write = [&](const std::string& relative, const std::string& text) {
        const fs::path path = fs::path(library) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        known.emplace(relative, LibraryIdentity::digestOf(std::vector<std::uint8_t>(text.begin(), text.end())));
    };
    for (int g = 0; g < kGroups; ++g)
        for (int p = 0; p < kPerGroup; ++p)
            write("Pool/" + std::to_string(g) + "_Group " + std::to_string(g) + "/" + std::to_string(p) + "_P.qptc",
                  "PTCF patch " + std::to_string(g * kPerGroup + p));
    write("Pool/0_Top.qptc", "PTCF top");
    write("Backup/0_Unit/1_B.qptc", "PTCF backup");
    // What the identity does not own takes no part.
    std::ofstream(fs::path(library) / "Pool" / "note.txt") << "a note";
    platform::LocalFileManager files;

    const LibraryIdentity::Reading read = LibraryIdentity::of(files, library);
    allocations = 0;
    counting = true;
    const LibraryIdentity::Reading fromDigests = LibraryIdentity::of(files, library, {}, &known);
    counting = false;
    EXPECT_NE(read.identity, LibraryIdentity::kNone);
    EXPECT_EQ(fromDigests.identity, read.identity);
    const auto perFile = static_cast<double>(allocations.load()) / static_cast<double>(known.size());
    EXPECT_LE(perFile, 4.0) << allocations.load() << " allocations for " << known.size() << " files";

    // A file changed since its digest was taken: its digest, not its bytes, is what the start read.
    std::ofstream(fs::path(library) / "Pool" / "0_Top.qptc", std::ios::binary) << "PTCF changed";
    EXPECT_EQ(LibraryIdentity::of(files, library, {}, &known).identity, read.identity);
    EXPECT_NE(LibraryIdentity::of(files, library).identity, read.identity);
}

}  // namespace
