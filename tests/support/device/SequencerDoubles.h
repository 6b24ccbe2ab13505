#pragma once

#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "device/commands/CQFXMidiDelegate.h"
#include "device/sequencer/ParserDataDelegate.h"
#include "device/sequencer/QFXCommandLayer.h"

// A command layer that records what the sequencer asks of it; the test answers through `delegate`.
class FakeCommandLayer final : public QFXCommandLayer {
public:
    void setDelegate(CQFXMidiDelegate* d) override { delegate = d; }
    void setAcceptDevice(std::vector<AcceptedDeviceModel>, std::int32_t retry) override { timeOfRetry = retry; }
    void connection() override { record("connection"); }
    void eject() override { record("eject"); }
    void forceEject() override { record("forceEject"); }
    bool checkCurrentConnect() override { return true; }
    bool rescanMidiDevice() override
    {
        record("rescan");
        return scanFinds;
    }
    void restartScan() override { ++scanRestarts; }
    bool connectNewDevicePlugin() override
    {
        record("plugin");
        return pluginOpens;
    }
    void disconnectCurrentDevice() override { record("disconnect"); }
    void clearWaitingBlock() override { record("clear"); }
    std::optional<std::string> getDeviceName() override { return "device"; }
    // What the unit sent so far, once a test tells; until then operations end by their watchdogs alone.
    std::optional<std::uint64_t> messagesHeard() const override { return heard; }
    std::optional<std::uint64_t> heard;
    bool awaitsUnit() const override { return owes; }
    bool owes = true;
    std::int32_t getCQFXDeviceIDInt() const override { return deviceId; }
    std::optional<std::array<std::uint8_t, 4>> getDeviceVersion() const override
    {
        return std::array<std::uint8_t, 4>{1, 2, 3, 4};
    }

    void dumpAllPatchWithNumberOfGroups(std::int32_t g, std::int32_t b, std::int32_t p) override
    {
        record("dump " + std::to_string(g) + " " + std::to_string(b) + " " + std::to_string(p));
    }
    void writeOnePatchWithGroupNumber(std::int32_t g, std::int32_t b, std::int32_t p, std::int64_t max,
                                      const std::uint8_t*, std::int64_t size) override
    {
        record("writeOne " + std::to_string(g) + " " + std::to_string(b) + " " + std::to_string(p) + " " +
               std::to_string(max) + " " + std::to_string(size));
    }
    void writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchs, std::int64_t) override
    {
        record("writeGroup " + std::to_string(patchs.size()));
    }
    void writeAllPatchWithAllPatch(const AllPatch& all, std::int64_t) override
    {
        record("writeAll " + std::to_string(all.numOfGroups) + " " + std::to_string(all.numOfBanks) + " " +
               std::to_string(all.numOfPatchs));
    }
    void selectPatchWithData(const std::uint8_t*, std::int64_t size, std::int64_t) override
    {
        record("select " + std::to_string(size));
    }
    void checkMemory() override { record("checkMemory"); }
    void readFFSFileListWithFilePath(const std::string& name) override { record("read " + name); }
    void writeFileListWithFilePath(const std::string& name, const std::uint8_t*, std::int64_t size,
                                   std::int32_t state) override
    {
        record("write " + name + " " + std::to_string(size) + " " + std::to_string(state));
    }
    void fileListFlush() override { record("flush"); }
    void deleteQFXWithFileName(const std::string& name) override { record("delete " + name); }
    void getFileSizeWithFileName(const std::string& name) override { record("size " + name); }

    std::vector<std::string> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }

    CQFXMidiDelegate* delegate = nullptr;
    bool scanFinds = true;
    std::atomic<int> scanRestarts{0};
    bool pluginOpens = true;
    std::int32_t deviceId = 0x00700001;
    std::int32_t timeOfRetry = -1;

private:
    void record(std::string call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
    std::mutex mutex;
    std::vector<std::string> calls;
};

// Writes every result and state it hears as one short line.
class RecordingDelegate final : public ParserDataDelegate {
public:
    void notifyDataPatchChange(const PatchObject& p) override
    {
        add("changed " + std::to_string(p.groupNum) + " " + std::to_string(p.bankNum) + " " + std::to_string(p.patchNum));
    }
    void notifyDisconnectToDevice() override { add("disconnected"); }
    void connectionWithState(std::int32_t s, std::int32_t sub) override { add("connection " + pair(s, sub)); }
    void ejectDeviceWithState(std::int32_t s, std::int32_t sub) override { add("eject " + pair(s, sub)); }
    void getAllPatchDataDumpWithState(std::int32_t s, const std::optional<std::vector<PatchObject>>& list) override
    {
        add("dump " + std::to_string(s) + (list ? " " + std::to_string(list->size()) : " none"));
    }
    void writeAllPatchDataDumpWithState(std::int32_t s) override { add("writeAll " + std::to_string(s)); }
    void writeOnePatchDataDumpWithState(std::int32_t s) override { add("writeOne " + std::to_string(s)); }
    void writeGroupPatchDataDumpWithState(std::int32_t s) override { add("writeGroup " + std::to_string(s)); }
    void selectPatchWithState(std::int32_t s) override { add("select " + std::to_string(s)); }
    void getQFXListOrQFXWithState(std::int32_t s, const std::optional<Bytes>& data) override
    {
        {
            std::lock_guard lock(mutex);
            lastRead = data;
        }
        add("read " + std::to_string(s) + (data ? " " + std::to_string(data->size()) : " none"));
    }
    void writeQFXListAndQFXWithState(std::int32_t s) override { add("write " + std::to_string(s)); }
    void getMemoryStatusWithState(std::int32_t s, float status) override
    {
        std::ostringstream text;
        text << "memory " << s << " " << status;
        add(text.str());
    }
    void deleteQFXWithState(std::int32_t s, std::int32_t sub) override { add("delete " + pair(s, sub)); }
    void fileListFlushWithState(std::int32_t s) override { add("flush " + std::to_string(s)); }
    void getFileLengthWithState(std::int32_t s, std::int64_t size) override
    {
        add("size " + std::to_string(s) + " " + std::to_string(size));
    }

    std::vector<std::string> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(events, {});
    }
    // The bytes of the last file read reported.
    std::optional<Bytes> lastReadBytes()
    {
        std::lock_guard lock(mutex);
        return lastRead;
    }
    // Called on the reporting thread with each event before it is recorded; set before the report is asked for.
    std::function<void(const std::string&)> onEvent;

private:
    static std::string pair(std::int32_t a, std::int32_t b) { return std::to_string(a) + " " + std::to_string(b); }
    void add(std::string event)
    {
        if (onEvent) onEvent(event);
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    std::mutex mutex;
    std::vector<std::string> events;
    std::optional<Bytes> lastRead;
};
