#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Stdqueue.h"
#include "device/sequencer/ParserDataDelegate.h"
#include "library/CommonUtilsDelegate.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/TimerService.h"
#include "server/AllQFXData.h"

class ApplicationLifecycle;
class ParserDataController;
class PatchItem;

namespace platform {
class Configuration;
class FileManager;
class PowerEvents;
}  // namespace platform

// The coordinator between the interface, the device sequencer and the server client. Every user action on
// the device is a request: it waits in a FIFO and runs only when the one before it has ended, so exactly
// one device action is under way at a time; timed requests give the device up when no result comes.
//
// All state lives on one serial queue: requests, the pump, the sequencer's results and time-out expiries
// are posted there. A reset bumps a generation, so a request dropped by it never runs and a time-out or
// result of a dropped request changes nothing. The interface is told on the main queue, never waited for.
class CommonUtils : public ParserDataDelegate {
public:
    // The folder layout under the root folder.
    static constexpr const char* kTemp = "Temp";
    static constexpr const char* kTempDevice = "Temp/Device";
    static constexpr const char* kTempDeviceEffect = "Temp/Device/Effect";
    static constexpr const char* kTempDevicePatch = "Temp/Device/Patch";
    static constexpr const char* kTempEffectList = "Temp/Effect/List";
    static constexpr const char* kTempEffectPool = "Temp/Effect/Pool";
    static constexpr const char* kTempLocal = "Temp/Local";
    static constexpr const char* kTempPatch = "Temp/Patch";
    static constexpr const char* kTempRecycleBin = "Temp/RecycleBin";
    static constexpr const char* kStoreEffect = "QFXMacApplication/Effect";
    static constexpr const char* kStoreImage = "QFXMacApplication/Image";
    static constexpr const char* kStorePatchPool = "QFXMacApplication/Patch/Pool";
    static constexpr const char* kStorePatchBackup = "QFXMacApplication/Patch/Backup";
    static constexpr const char* kDevicePatch = "Device/Patch";
    static constexpr const char* kQFXListFileName = "FLST_SEQ.QT2";

    // The device actions a request can run. Each has its own operation flags and request time-out.
    enum class RequestKind {
        GetQFXList,
        Eject,
        EjectForClosing,
        UpdateEffect,
        FavouriteEffect,
        AddEffect,
        DeleteEffect,
        SelectPatch,
        WriteOnePatch,
        WriteGroupPatchs,
        WriteAllPatch,
    };
    // The request time-out of a kind in seconds; 0 for none.
    static int requestTimeOut(RequestKind kind);

    struct Collaborators {
        platform::Dispatch& dispatch;
        platform::TimerService& timers;
        platform::FileManager& files;
        const platform::Configuration& configuration;
        ParserDataController& parser;
        // The root folder; the folder layout lies under it.
        std::string rootPath;
    };

    // Start-up: becomes the sequencer's delegate and recreates "Temp" empty.
    explicit CommonUtils(Collaborators collaborators);
    ~CommonUtils() override;
    CommonUtils(const CommonUtils&) = delete;
    CommonUtils& operator=(const CommonUtils&) = delete;

    // The instance the program builds at start.
    static CommonUtils& getInstance();
    static void setShared(CommonUtils* utils);

    void setDelegate(CommonUtilsDelegate* delegate) { m_delegate.store(delegate); }
    CommonUtilsDelegate* delegate() const { return m_delegate.load(); }
    const std::string& rootPath() const { return m_rootPath; }
    // `relative` under the root folder.
    std::string pathUnderRoot(const std::string& relative) const;

    // ---- the request queue ----
    // The pump: hands the oldest request over when no request is running, and tells the interface
    // whether the device side is busy. Safe from any thread.
    void checkAddOperation();
    // Arms the request time-out at the larger of `seconds` and the sequencer's own watchdog for the
    // operation plus one command time-out, so the sequencer always gets to report first. A second
    // arming replaces the first.
    void setupTimerWithTimeOut(int seconds, float sequencerWatchdog = 0.0F);
    void resetTimer();
    // Drops every waiting request, every operation flag and the connected device's facts and lists, and
    // tells the interface; the flags of the session (ejected, sleep, closing, pool loaded) stay.
    void resetQueue();
    // The common form of every request method: queue a request of `kind` whose flow starts the device
    // operation, then pump. With `whileConnected`, nothing is queued unless a device is connected.
    // `sequencerWatchdog` is how long the sequencer's own watchdog for the operation runs.
    void addRequest(RequestKind kind, std::function<void()> start, float sequencerWatchdog = 0.0F,
                    bool whileConnected = true);

    // ---- device connection requests ----
    void connectDevice();
    void dataFromDevice();
    std::int32_t getMaxEffectInDevice() const;
    std::uint32_t getNumberOfExistedEffectsInDevice() const;
    std::optional<std::string> getDeviceVersion() const;
    std::optional<std::string> getDeviceName() const;
    // Neither argument is used: the eject waits behind the queued requests like any other.
    void ejectDeviceWithPatchList(const std::vector<std::shared_ptr<PatchItem>>& patchList,
                                  const std::function<void(bool)>& successBlock);
    void ejectDeviceForClosing();
    // Drops every queued request and ejects at once, connected or not.
    void forceEjectDevice();

    // ---- server side ----
    // A catalogue arrived: none, an empty one, or a usable one.
    void dataFromServer(const std::optional<AllQFXData>& data);
    // The effect store is ready: the device is scanned for, or after an eject connected again. The
    // ejected flag is cleared before the connection handler runs, so that handler never starts a second
    // synchronisation for the same eject.
    void downloadFileSuccess(bool success);

    // ---- ParserDataDelegate: each hops onto the state queue ----
    void notifyDataPatchChange(const PatchObject& patch) override;
    void notifyDisconnectToDevice() override;
    void connectionWithState(std::int32_t state, std::int32_t subState) override;
    void ejectDeviceWithState(std::int32_t state, std::int32_t subState) override;
    void getAllPatchDataDumpWithState(std::int32_t state,
                                      const std::optional<std::vector<PatchObject>>& allPatchData) override;
    void writeAllPatchDataDumpWithState(std::int32_t state) override;
    void writeOnePatchDataDumpWithState(std::int32_t state) override;
    void writeGroupPatchDataDumpWithState(std::int32_t state) override;
    void selectPatchWithState(std::int32_t state) override;
    void getQFXListOrQFXWithState(std::int32_t state, const std::optional<Bytes>& qfxList) override;
    void writeQFXListAndQFXWithState(std::int32_t state) override;
    void getMemoryStatusWithState(std::int32_t state, float status) override;
    void deleteQFXWithState(std::int32_t state, std::int32_t subState) override;
    void fileListFlushWithState(std::int32_t state) override;
    void getFileLengthWithState(std::int32_t state, std::int64_t fileSize) override;

    // ---- sleep, wake and quitting ----
    // How long quitting waits for the closing eject before the program ends anyway.
    static constexpr std::chrono::seconds kQuitWatchdog{20};
    // How long an announced sleep is held back once the device has been force-ejected: the device is let
    // go a second after it is told to leave editor mode.
    static constexpr std::chrono::milliseconds kSleepHold{1500};
    // The source of sleep and wake notices; observed from here on (`systemNotifications`). Null to stop.
    void setPowerEvents(platform::PowerEvents* power);
    void setApplicationLifecycle(ApplicationLifecycle* lifecycle) { m_lifecycle.store(lifecycle); }
    void systemNotifications();
    void receiveSleepNote();
    void receiveWakeNote();
    void powerOffNotification() {}
    // The Quit command: ends at once without a device, else after the closing eject (or its watchdog).
    void closeApp();
    void forceCloseApp();

private:
    struct Request {
        RequestKind kind;
        std::function<void()> start;
        float sequencerWatchdog = 0.0F;
    };
    // What the getters answer from, as the state queue last published it: they never wait on it.
    struct Published {
        bool isConnectDevice = false;
        std::int32_t deviceID = 0;
        std::string deviceName;
        std::int32_t numberOfEffectInDevice = 0;
        std::uint32_t numberOfEffects = 0;
        std::optional<AllQFXData> allQFXData;
    };

    void post(std::function<void()> task);
    // Sends one message to the interface on the main queue.
    void tell(std::function<void(CommonUtilsDelegate&)> message);
    void publish();
    void startUp();

    // On the state queue.
    void pump();
    void runFlow(const Request& request);
    void getQFXListFromDeviceFlow(const Request& request);
    void ejectingDeviceFlow(const Request& request);
    void ejectDeviceForClosingFlow(const Request& request);
    std::vector<bool*> operationFlags(RequestKind kind);
    // A result of `kind` belongs to the running request; false for a late one after a reset.
    bool isRunning(RequestKind kind) const;
    // The common end of every result handler: flags down, time-out off, the next request.
    void finishRequest(RequestKind kind);
    void finishRequestWhenRunning(RequestKind kind);
    void armTimer(int seconds, float sequencerWatchdog);
    void reset();
    void forceEject();
    void actionTimeOut(std::uint64_t generation);
    void failDeviceRead(std::int32_t state);

    platform::Dispatch& m_dispatch;
    platform::FileManager& m_files;
    const platform::Configuration& m_configuration;
    ParserDataController& m_parser;
    std::string m_rootPath;
    std::shared_ptr<platform::SerialQueue> m_state;
    std::shared_ptr<bool> m_alive;
    std::atomic<CommonUtilsDelegate*> m_delegate{nullptr};
    platform::Timer m_rescanTimer;
    mutable std::mutex m_publishedMutex;
    Published m_published;

    // Everything below is touched on the state queue only.
    Stdqueue<Request> m_queueRequest;
    std::uint64_t m_generation = 0;
    std::optional<RequestKind> m_running;
    std::optional<AllQFXData> m_allQFXData;
    std::vector<std::string> m_modelNameList;
    std::string m_deviceName;
    std::int32_t m_deviceID = 0;
    std::int32_t m_numberOfEffectInDevice = 0;
    std::string m_qfxListPathDevice;
    bool m_isWorking = false;
    bool m_isQFXList = false;
    bool m_isGettingDataDevice = false;
    bool m_isDeleteEffectDevice = false;
    bool m_isFavouriteEffectDevice = false;
    bool m_isAddEffectDevice = false;
    bool m_isChangeEffectList = false;
    bool m_isUpdateEffectDevice = false;
    bool m_isRetry = false;
    bool m_isLoadedPatchList = false;
    bool m_isConnectDevice = false;
    bool m_isConnectingInternet = false;
    bool m_isSleep = false;
    bool m_isEjectDeviceForClosing = false;
    bool m_isWriteOnePatchToDevice = false;
    bool m_isWriteGroupPatchsToDevice = false;
    bool m_isWriteAllPatchToDevice = false;
    bool m_isSelectedPatchInDevice = false;
    bool m_isEjectedDevice = false;

    // The session: sleep and quitting.
    void sleepOnState();
    void closeOnState();
    void forceCloseOnState();
    std::atomic<platform::PowerEvents*> m_power{nullptr};
    std::atomic<ApplicationLifecycle*> m_lifecycle{nullptr};
    platform::Timer m_quitTimer;
    platform::Timer m_sleepTimer;
    bool m_isQuitting = false;
};
