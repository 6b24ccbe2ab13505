#pragma once

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/files/LocalFileManager.h"
#include "support/Locked.h"

// The real file manager, except that an operation chosen by a test fails (EIO, or the errno the test
// gives) for paths holding a text. Each armed fault fires `times` times, then the operation works again.
class FaultyFileManager final : public platform::FileManager, private support::Locked {
public:
    enum class Op { Write, Copy, Move, Remove, CreateDirectory, Flush, Link, List };
    using Error = platform::Error;
    using Durability = platform::Durability;
    using Bytes = std::vector<std::uint8_t>;
    using Stamp = std::optional<platform::FileStamp>;

    void fail(Op op, std::string pathPart, int times = 1000, int code = EIO)
    {
        locked([&] { m_faults.erase(op), m_faults.emplace(op, Fault{std::move(pathPart), times, code}); });
    }
    // Arms one more fault of the operation, beside those armed already; it lets the first `passing`
    // matching calls through.
    void alsoFail(Op op, std::string pathPart, int times = 1000, int code = EIO, int passing = 0)
    {
        locked([&] { m_faults.emplace(op, Fault{std::move(pathPart), times, code, passing}); });
    }
    // The first call of the operation on a path holding `pathPart` calls `reached` and then never returns:
    // a run that a test kills stands still there.
    void stallForeverAt(Op op, std::string pathPart, std::function<void()> reached)
    {
        locked([&] { m_stall = Stall{op, std::move(pathPart), std::move(reached)}; });
    }
    // The first call of the operation on a path holding `pathPart` calls `reached` first, then goes on: what
    // happens to the disk meanwhile (a drive going away) happens at that step.
    void atFirst(Op op, std::string pathPart, std::function<void()> reached)
    {
        locked([&] { m_stall = Stall{op, std::move(pathPart), std::move(reached), false}; });
    }
    // The same for the path `path` itself, not those holding it.
    void atFirstExactly(Op op, std::string path, std::function<void()> reached)
    {
        locked([&] { m_stall = Stall{op, std::move(path), std::move(reached), false, true}; });
    }
    void heal() { locked([&] { m_faults.clear(); }); }
    // From now on the folder at `point` and those below it tell a device of their own, as a file system
    // mounted there does; `unmount` ends that, leaving the folder on the device of the one above it.
    void mount(const std::string& point) { locked([&] { m_mounts[point] = 0xfeed0000ULL + m_mounts.size(); }); }
    void unmount(const std::string& point) { locked([&] { m_mounts.erase(point); }); }
    // From now on every stamp tells other device and inode numbers, as after the drive was mounted again.
    void remount() { locked([&] { m_remounts += 1; }); }
    // From now on a read of a path holding `pathPart` tells no stamp, as when the file's stamp cannot be taken.
    void unstamped(std::string pathPart) { locked([&] { m_unstamped = std::move(pathPart); }); }
    // Counts from now on the reads of paths holding `pathPart`.
    void countReads(std::string pathPart) { locked([&] { m_counted = std::move(pathPart), m_reads = 0; }); }
    int reads() { return locked([&] { return m_reads; }); }

    bool writeAtomically(const std::string& path, const Bytes& bytes, Error* error, Durability durability) override
    {
        return !fault(Op::Write, path, error) && m_real.writeAtomically(path, bytes, error, durability);
    }
    std::optional<Bytes> readFile(const std::string& path, Error* error, std::uint64_t limit) override
    {
        counted(path);
        return m_real.readFile(path, error, limit);
    }
    std::optional<Bytes> readFileStamped(const std::string& path, Stamp& stamp, Error* error, std::uint64_t limit) override
    {
        counted(path);
        auto bytes = m_real.readFileStamped(path, stamp, error, limit);
        stamp = remounted(stamp);
        if (locked([&] { return !m_unstamped.empty() && path.find(m_unstamped) != std::string::npos; })) stamp.reset();
        return bytes;
    }
    Stamp fileStamp(const std::string& path) override { return remounted(m_real.fileStamp(path)); }
    Stamp folderStamp(const std::string& path) override
    {
        auto stamp = remounted(m_real.folderStamp(path));
        std::lock_guard lock(m_mutex);
        for (const auto& [point, device] : m_mounts)
            if (stamp && (path == point || path.starts_with(point + "/"))) stamp->device = device;
        return stamp;
    }
    bool linkItem(const std::string& from, const std::string& to, Error* error, Durability durability) override
    {
        return !fault(Op::Link, from + "\n" + to, error) && m_real.linkItem(from, to, error, durability);
    }
    bool copyItem(const std::string& from, const std::string& to, Error* error, Durability durability) override
    {
        return !fault(Op::Copy, from + "\n" + to, error) && m_real.copyItem(from, to, error, durability);
    }
    bool flushFolder(const std::string& path, Error* error) override { return !fault(Op::Flush, path, error) && m_real.flushFolder(path, error); }
    bool moveItem(const std::string& from, const std::string& to, Error* error) override
    {
        return !fault(Op::Move, from + "\n" + to, error) && m_real.moveItem(from, to, error);
    }
    bool removeItem(const std::string& path, Error* error) override { return !fault(Op::Remove, path, error) && m_real.removeItem(path, error); }
    bool createDirectory(const std::string& path, bool intermediates, Error* error) override
    {
        return !fault(Op::CreateDirectory, path, error) && m_real.createDirectory(path, intermediates, error);
    }
    std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path, Error* error) override
    {
        return fault(Op::List, path, error) ? std::nullopt : m_real.contentsOfDirectory(path, error);
    }
    std::optional<std::vector<platform::FolderEntry>> contentsOfDirectoryWithKinds(const std::string& path, Error* error) override
    {
        return fault(Op::List, path, error) ? std::nullopt : m_real.contentsOfDirectoryWithKinds(path, error);
    }
    bool exists(const std::string& path) override { return m_real.exists(path); }
    bool isDirectory(const std::string& path) override { return m_real.isDirectory(path); }
    platform::ItemKind itemKind(const std::string& path) override { return m_real.itemKind(path); }
    std::optional<std::uint64_t> fileSize(const std::string& path, Error* error) override { return m_real.fileSize(path, error); }

private:
    void counted(const std::string& path)
    {
        locked([&] { m_reads += !m_counted.empty() && path.find(m_counted) != std::string::npos; });
    }
    Stamp remounted(Stamp stamp)
    {
        std::lock_guard lock(m_mutex);
        if (stamp) stamp->device += 1000003ULL * m_remounts, stamp->inode += 7919ULL * m_remounts;
        return stamp;
    }
    bool fault(Op op, const std::string& path, Error* error)
    {
        std::function<void()> reached;
        bool holds = true;
        {
            std::lock_guard lock(m_mutex);
            if (m_stall && m_stall->op == op &&
                (m_stall->exact ? path == m_stall->pathPart : path.find(m_stall->pathPart) != std::string::npos)) {
                reached = std::move(m_stall->reached);
                holds = m_stall->holds;
                m_stall.reset();
            }
        }
        if (reached) {
            reached();
            while (holds) std::this_thread::sleep_for(std::chrono::hours(1));
        }
        std::lock_guard lock(m_mutex);
        const auto [first, last] = m_faults.equal_range(op);
        for (auto found = first; found != last; ++found) {
            Fault& armed = found->second;
            if (armed.times <= 0 || path.find(armed.pathPart) == std::string::npos) continue;
            if (armed.passing > 0) {
                --armed.passing;
                continue;
            }
            --armed.times;
            if (error != nullptr) *error = Error::make("files", armed.code, "injected failure: " + path);
            return true;
        }
        return false;
    }

    struct Fault { std::string pathPart; int times = 0, code = EIO, passing = 0; };
    struct Stall {
        Op op;
        std::string pathPart;
        std::function<void()> reached;
        bool holds = true;
        bool exact = false;
    };
    platform::LocalFileManager m_real;
    std::multimap<Op, Fault> m_faults;
    std::string m_counted;
    std::string m_unstamped;
    int m_reads = 0;
    std::uint64_t m_remounts = 0;
    std::map<std::string, std::uint64_t> m_mounts;
    std::optional<Stall> m_stall;
};
