#pragma once

#include <atomic>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device/commands/CQFXMidiDelegate.h"
#include "device/sequencer/ParserDataDelegate.h"
#include "device/sequencer/QFXCommandLayer.h"
#include "support/Locked.h"

// Lines of words a test compares whole, kept from any thread.
class CallLog : protected support::Locked {
public:
    template <typename... Words>
    void add(const Words&... words)
    {
        std::ostringstream line;
        ((line << words << ' '), ...);
        std::string text = line.str();
        text.pop_back();
        if (onEvent) onEvent(text);
        locked([&] { m_lines.push_back(std::move(text)); });
    }
    std::vector<std::string> take() { return locked([&] { return std::exchange(m_lines, {}); }); }
    // Called on the reporting thread with each line before it is kept; set before the report is asked for.
    std::function<void(const std::string&)> onEvent;

private:
    std::vector<std::string> m_lines;
};

// A command layer that records what the sequencer asks of it; the test answers through `delegate`.
class FakeCommandLayer final : public QFXCommandLayer, public CallLog {
public:
    void setDelegate(CQFXMidiDelegate* d) override { delegate = d; }
    void setAcceptDevice(std::vector<AcceptedDeviceModel>, std::int32_t retry) override { timeOfRetry = retry; }
    void connection() override { add("connection"); }
    void eject() override { add("eject"); }
    void forceEject() override { add("forceEject"); }
    bool checkCurrentConnect() override { return true; }
    bool rescanMidiDevice() override { add("rescan"); return scanFinds; }
    void restartScan() override { ++scanRestarts; }
    bool connectNewDevicePlugin() override { add("plugin"); return pluginOpens; }
    void disconnectCurrentDevice() override { add("disconnect"); }
    void clearWaitingBlock() override { add("clear"); }
    std::optional<std::string> getDeviceName() override { return "device"; }
    // What the unit sent so far, once a test tells; until then operations end by their watchdogs alone.
    std::optional<std::uint64_t> messagesHeard() const override { return heard; }
    bool awaitsUnit() const override { return owes; }
    std::int32_t getCQFXDeviceIDInt() const override { return deviceId; }
    std::optional<std::array<std::uint8_t, 4>> getDeviceVersion() const override
    {
        return std::array<std::uint8_t, 4>{1, 2, 3, 4};
    }

    void dumpAllPatchWithNumberOfGroups(std::int32_t g, std::int32_t b, std::int32_t p) override { add("dump", g, b, p); }
    void writeOnePatchWithGroupNumber(std::int32_t g, std::int32_t b, std::int32_t p, std::int64_t max,
                                      const std::uint8_t*, std::int64_t size) override
    {
        add("writeOne", g, b, p, max, size);
    }
    void writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchs, std::int64_t) override
    {
        add("writeGroup", patchs.size());
    }
    void writeAllPatchWithAllPatch(const AllPatch& all, std::int64_t) override
    {
        add("writeAll", all.numOfGroups, all.numOfBanks, all.numOfPatchs);
    }
    void selectPatchWithData(const std::uint8_t*, std::int64_t size, std::int64_t) override { add("select", size); }
    void checkMemory() override { add("checkMemory"); }
    void readFFSFileListWithFilePath(const std::string& name) override { add("read", name); }
    void writeFileListWithFilePath(const std::string& name, const std::uint8_t*, std::int64_t size,
                                   std::int32_t state) override
    {
        add("write", name, size, state);
    }
    void fileListFlush() override { add("flush"); }
    void deleteQFXWithFileName(const std::string& name) override { add("delete", name); }
    void getFileSizeWithFileName(const std::string& name) override { add("size", name); }

    CQFXMidiDelegate* delegate = nullptr;
    std::optional<std::uint64_t> heard;
    bool owes = true;
    bool scanFinds = true;
    std::atomic<int> scanRestarts{0};
    bool pluginOpens = true;
    std::int32_t deviceId = 0x00700001;
    std::int32_t timeOfRetry = -1;
};

// Writes every result and state it hears as one short line.
class RecordingDelegate final : public ParserDataDelegate, public CallLog {
public:
    void notifyDataPatchChange(const PatchObject& p) override { add("changed", p.groupNum, p.bankNum, p.patchNum); }
    void notifyDisconnectToDevice() override { add("disconnected"); }
    void connectionWithState(std::int32_t s, std::int32_t sub) override { add("connection", s, sub); }
    void ejectDeviceWithState(std::int32_t s, std::int32_t sub) override { add("eject", s, sub); }
    void getAllPatchDataDumpWithState(std::int32_t s, const std::optional<std::vector<PatchObject>>& list) override
    {
        add("dump", s, list ? std::to_string(list->size()) : "none");
    }
    void writeAllPatchDataDumpWithState(std::int32_t s) override { add("writeAll", s); }
    void writeOnePatchDataDumpWithState(std::int32_t s) override { add("writeOne", s); }
    void writeGroupPatchDataDumpWithState(std::int32_t s) override { add("writeGroup", s); }
    void selectPatchWithState(std::int32_t s) override { add("select", s); }
    void getQFXListOrQFXWithState(std::int32_t s, const std::optional<Bytes>& data) override
    {
        locked([&] { m_lastRead = data; });
        add("read", s, data ? std::to_string(data->size()) : "none");
    }
    void writeQFXListAndQFXWithState(std::int32_t s) override { add("write", s); }
    void getMemoryStatusWithState(std::int32_t s, float status) override { add("memory", s, status); }
    void deleteQFXWithState(std::int32_t s, std::int32_t sub) override { add("delete", s, sub); }
    void fileListFlushWithState(std::int32_t s) override { add("flush", s); }
    void getFileLengthWithState(std::int32_t s, std::int64_t size) override { add("size", s, size); }

    std::optional<Bytes> lastReadBytes() { return locked([&] { return m_lastRead; }); }

private:
    std::optional<Bytes> m_lastRead;
};
