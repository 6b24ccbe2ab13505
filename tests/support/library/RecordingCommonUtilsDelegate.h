#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "library/CommonUtilsDelegate.h"

// Records what the coordinator tells the interface, one short text per message, in order. The device busy
// pair (do, prevent eject) shows as "busy", the idle pair (finish, allow eject) as "idle"; a reset's own
// pair (finish, prevent eject) as "reset".
class RecordingCommonUtilsDelegate final : public CommonUtilsDelegate {
public:
    std::vector<std::string> take()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_events, {});
    }

    void allQFXDataWithState(std::int64_t state) override { record("catalogue " + std::to_string(state)); }
    void deviceConnectWithState(std::int32_t state) override { record("connect " + std::to_string(state)); }
    void changeEffectListSuccessfully() override { record("effectListChanged"); }
    void getQFXListwithFailedState(std::int32_t state) override { record("listFailed " + std::to_string(state)); }
    void ejectDeviceWithState(std::int32_t state) override { record("eject " + std::to_string(state)); }
    void deviceDisonnect() override { record("disconnect"); }
    void deviceLostConnectOrNoReply() override { record("lost"); }
    void systemDidSleep() override { record("sleep"); }
    void getPatchListWithFailedState(std::int32_t state) override { record("patchesFailed " + std::to_string(state)); }
    void didGetDeviceMemory(float percentInUse) override
    {
        record("memory " + std::to_string(static_cast<int>(percentInUse)));
    }
    void didGetDeviceName(const std::string& name) override { record("name " + name); }

    // The pools, the server side and the version notices.
    void serverConnectWithState(bool reachable) override { record(std::string("server ") + (reachable ? "1" : "0")); }
    void internetNoConnect() override { record("noInternet"); }
    void didDoSynchronizationActionServer(const std::string&) override { record("syncDo"); }
    void didFinishSynchronizationActionServer(const std::string&) override { record("syncFinish"); }
    void applicationDidHaveUpdateWithCurentVersion(const std::string& current, const std::string& next) override
    {
        record("appUpdate " + current + " " + next);
    }
    void deviceDidHaveUpdateWithCurentVersion(const std::string& current, const std::string& next) override
    {
        record("deviceUpdate " + current + " " + next);
    }
    void serverDirectoryObject(const Tree& tree) override
    {
        std::lock_guard lock(m_mutex);
        effectPool = tree;
        m_events.push_back("effectPool");
    }
    void patchPoolDirectoryObject(const Tree& tree) override
    {
        std::lock_guard lock(m_mutex);
        patchPool = tree;
        m_events.push_back("patchPool");
    }
    // The last trees handed over; read after the event was seen.
    Tree effectPool;
    Tree patchPool;

    void didDoSynchronizationActionDevice(const std::optional<std::string>&) override { m_pending = "do"; }
    void didFinishSynchronizationActionDevice(const std::optional<std::string>&) override { m_pending = "finish"; }
    void didPreventEjectAction() override { record(m_pending == "do" ? "busy" : "reset"); }
    void didAllowEjectAction() override { record(m_pending == "finish" ? "idle" : "allow"); }

private:
    void record(std::string event)
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }

    std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::string m_pending;
};
