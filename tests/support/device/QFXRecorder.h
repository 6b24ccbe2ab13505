#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/commands/CQFXMidiDelegate.h"
#include "support/Locked.h"

// Records every command-layer callback in order, as "name state" lines plus the payloads a test checks,
// and lets the test wait until a number of them arrived (they come from the reply thread).
class QFXRecorder : public CQFXMidiDelegate, private support::Locked {
public:
    struct Payload {
        Bytes bytes = {};
        std::int64_t a = 0, b = 0, c = 0;
        std::optional<AllPatch> allPatch = {};
        std::optional<AdvencedPatchInformation> advanced = {};
        std::optional<PatchObject> patch = {};
    };

    bool waitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_events.size() >= count; });
    }
    // Waits for the first event whose line starts with the prefix; its index, or nothing.
    std::optional<std::size_t> waitForPrefix(const std::string& prefix,
                                             std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        std::optional<std::size_t> found;
        m_changed.wait_for(lock, limit, [&] {
            for (std::size_t i = 0; i < m_events.size(); ++i)
                if (m_events[i].rfind(prefix, 0) == 0) return (found = i).has_value();
            return false;
        });
        return found;
    }
    std::vector<std::string> events() const { return locked([&] { return m_events; }); }
    std::string last() const { return locked([&] { return m_events.empty() ? std::string() : m_events.back(); }); }
    Payload payload(std::size_t index) const { return locked([&] { return m_payloads.at(index); }); }
    // Counts are kept apart from the events, which tests compare whole.
    std::vector<std::pair<std::int32_t, std::int32_t>> progress() const { return locked([&] { return m_progress; }); }
    void clear()
    {
        locked([&] {
            m_events.clear();
            m_payloads.clear();
        });
    }

    void getNewDevicePlugin() override { add("plugin"); }
    void notifyRemoveConnectedDevice() override { add("removed"); }
    void ejectCallback(std::int32_t state, std::int32_t code) override { add(line("eject", state, code)); }
    void patchDataDumpCallbackWithState(std::int32_t state, const Bytes&, std::int32_t) override
    {
        add(line("single", state));
    }
    void editBufferDumpCallbackWithState(std::int32_t state) override { add(line("select", state)); }
    void diskFreeCallbackWithState(std::int32_t state, std::int64_t total, std::int64_t free) override
    {
        add(line("diskfree", state), {{}, total, free});
    }
    void ffsFileListFlushCallbackWithState(std::int32_t state) override { add(line("flush", state)); }
    void supportQFXInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                const Bytes& regionLv, const Bytes& units) override
    {
        add(line("qfxinfo", state), {join({gen, region, regionLv, units})});
    }
    void supportPatchInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                  const Bytes& units) override
    {
        add(line("patchinfo", state), {join({gen, region, units})});
    }
    void advencedPatchDataInformationCallbackWithState(std::int32_t state,
                                                       const std::optional<AdvencedPatchInformation>& info) override
    {
        add(line("advanced", state), {.advanced = info});
    }
    void infoReadCallbackWithState(std::int32_t state, std::int32_t info, std::int32_t files, std::int32_t sectors,
                                   const Bytes& version, std::int64_t code) override
    {
        add(line("inforead", state, code), {version, info, files, sectors});
    }
    void writeAllPatchCallbackWithState(std::int32_t state) override { add(line("writeall", state)); }
    void writeOnePatchCallbackWithState(std::int32_t state) override { add(line("writeone", state)); }
    void writeGroupPatchCallbackWithState(std::int32_t state) override { add(line("writegroup", state)); }
    void deleteQFXCallbackWithState(std::int32_t state, std::int64_t code) override
    {
        add(line("delete", state, code));
    }
    void getFileSizeCallbackWithState(std::int32_t state, std::int64_t size) override { add(line("size", state, size)); }
    void enterPCAsyncModeCallbackWithState(std::int32_t state) override { add(line("enter", state)); }
    void dumpAllPatchCallbackWithState(std::int32_t state, const std::optional<AllPatch>& table) override
    {
        add(line("dump", state), {.allPatch = table});
    }
    void writeFileListCallbackWithState(std::int32_t state) override { add(line("write", state)); }
    void readFileQFXListAndQFXCallbackWithState(std::int32_t state, const Bytes& bytes, std::int64_t count) override
    {
        add(line("read", state), {bytes, count});
    }
    void notifyPatchDataChangeFromDevice(const PatchObject& patch) override { add("notice", {.patch = patch}); }
    void patchTransferProgress(std::int32_t done, std::int32_t total) override
    {
        locked([&] { m_progress.emplace_back(done, total); });
    }

private:
    static std::string line(const char* name, std::int64_t state) { return name + (" " + std::to_string(state)); }
    static std::string line(const char* name, std::int64_t state, std::int64_t more)
    {
        return line(name, state) + " " + std::to_string(more);
    }
    static Bytes join(std::initializer_list<Bytes> parts)
    {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    }
    void add(std::string line) { add(std::move(line), Payload()); }
    void add(std::string line, Payload payload)
    {
        // Notified under the lock: the test may end and destroy the recorder as soon as it sees the event.
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(line));
        m_payloads.push_back(std::move(payload));
        m_changed.notify_all();
    }

    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::vector<Payload> m_payloads;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_progress;
};
