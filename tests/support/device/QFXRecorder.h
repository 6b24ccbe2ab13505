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

// Records every command-layer callback in order, as "name state" lines plus the payloads a test checks,
// and lets the test wait until a number of them arrived (they come from the reply thread).
class QFXRecorder : public CQFXMidiDelegate {
public:
    struct Payload {
        Bytes bytes;
        std::int64_t a = 0, b = 0, c = 0;
        std::optional<AllPatch> allPatch;
        std::optional<AdvencedPatchInformation> advanced;
        std::optional<PatchObject> patch;
    };
    static Payload of(Bytes bytes, std::int64_t a = 0, std::int64_t b = 0, std::int64_t c = 0)
    {
        Payload p;
        p.bytes = std::move(bytes);
        p.a = a;
        p.b = b;
        p.c = c;
        return p;
    }

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
    std::vector<std::string> events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::string last() const
    {
        std::lock_guard lock(m_mutex);
        return m_events.empty() ? std::string() : m_events.back();
    }
    Payload payload(std::size_t index) const
    {
        std::lock_guard lock(m_mutex);
        return m_payloads.at(index);
    }
    Payload lastPayload() const
    {
        std::lock_guard lock(m_mutex);
        return m_payloads.back();
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
        m_payloads.clear();
    }

    void getNewDevicePlugin() override { add("plugin"); }
    void notifyRemoveConnectedDevice() override { add("removed"); }
    void ejectCallback(std::int32_t state, std::int32_t resultCode) override
    {
        add("eject " + std::to_string(state) + " " + std::to_string(resultCode));
    }
    void patchDataDumpCallbackWithState(std::int32_t state, const Bytes&, std::int32_t) override
    {
        add("single " + std::to_string(state));
    }
    void editBufferDumpCallbackWithState(std::int32_t state) override { add("select " + std::to_string(state)); }
    void diskFreeCallbackWithState(std::int32_t state, std::int64_t total, std::int64_t free) override
    {
        add("diskfree " + std::to_string(state), of({}, total, free));
    }
    void ffsFileListFlushCallbackWithState(std::int32_t state) override { add("flush " + std::to_string(state)); }
    void supportQFXInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                const Bytes& regionLv, const Bytes& units) override
    {
        Bytes all = gen;
        all.insert(all.end(), region.begin(), region.end());
        all.insert(all.end(), regionLv.begin(), regionLv.end());
        all.insert(all.end(), units.begin(), units.end());
        add("qfxinfo " + std::to_string(state), of(all));
    }
    void supportPatchInformationCallbackWithState(std::int32_t state, const Bytes& gen, const Bytes& region,
                                                  const Bytes& units) override
    {
        Bytes all = gen;
        all.insert(all.end(), region.begin(), region.end());
        all.insert(all.end(), units.begin(), units.end());
        add("patchinfo " + std::to_string(state), of(all));
    }
    void advencedPatchDataInformationCallbackWithState(std::int32_t state,
                                                       const std::optional<AdvencedPatchInformation>& info) override
    {
        Payload p;
        p.advanced = info;
        add("advanced " + std::to_string(state), p);
    }
    void infoReadCallbackWithState(std::int32_t state, std::int32_t info, std::int32_t files, std::int32_t sectors,
                                   const Bytes& version, std::int64_t code) override
    {
        Payload p = of(version, info, files, sectors);
        add("inforead " + std::to_string(state) + " " + std::to_string(code), p);
    }
    void writeAllPatchCallbackWithState(std::int32_t state) override { add("writeall " + std::to_string(state)); }
    void writeOnePatchCallbackWithState(std::int32_t state) override { add("writeone " + std::to_string(state)); }
    void writeGroupPatchCallbackWithState(std::int32_t state) override { add("writegroup " + std::to_string(state)); }
    void deleteQFXCallbackWithState(std::int32_t state, std::int64_t code) override
    {
        add("delete " + std::to_string(state) + " " + std::to_string(code));
    }
    void getFileSizeCallbackWithState(std::int32_t state, std::int64_t size) override
    {
        add("size " + std::to_string(state) + " " + std::to_string(size));
    }
    void enterPCAsyncModeCallbackWithState(std::int32_t state) override { add("enter " + std::to_string(state)); }
    void dumpAllPatchCallbackWithState(std::int32_t state, const std::optional<AllPatch>& table) override
    {
        Payload p;
        p.allPatch = table;
        add("dump " + std::to_string(state), p);
    }
    void writeFileListCallbackWithState(std::int32_t state) override { add("write " + std::to_string(state)); }
    void readFileQFXListAndQFXCallbackWithState(std::int32_t state, const Bytes& bytes, std::int64_t count) override
    {
        add("read " + std::to_string(state), of(bytes, count));
    }
    void notifyPatchDataChangeFromDevice(const PatchObject& patch) override
    {
        Payload p;
        p.patch = patch;
        add("notice", p);
    }
    // Counts are kept apart from the events, which tests compare whole.
    void patchTransferProgress(std::int32_t done, std::int32_t total) override
    {
        std::lock_guard lock(m_mutex);
        m_progress.emplace_back(done, total);
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> progress() const
    {
        std::lock_guard lock(m_mutex);
        return m_progress;
    }

private:
    void add(std::string line) { add(std::move(line), of({})); }
    void add(std::string line, Payload payload)
    {
        // Notified under the lock: the test may end and destroy the recorder as soon as it sees the event.
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(line));
        m_payloads.push_back(std::move(payload));
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::vector<Payload> m_payloads;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_progress;
};
