#include <algorithm>
#include <utility>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "library/CommonUtils.h"
#include "platform/bundle/Configuration.h"
#include "platform/files/FileManager.h"
#include "platform/text/Utf8.h"

namespace {

ServerDeviceModel serverDeviceModel(const AllQFXModels& model)
{
    ServerDeviceModel device;
    device.modelIdInt = model.modelIdInt();
    device.qfxGenerationModel = model.qfxGenerationModel();
    device.qfxSupportRegionsModel = model.qfxSupportRegionsModel();
    device.qfxRegionLevelsModel = model.qfxRegionLevelsModel();
    device.qfxMaxNumOfUnit = model.qfxMaxNumOfUnit();
    device.ptcGenerationModel = model.ptcGenerationModel();
    device.ptcSupportRegionsModel = model.ptcSupportRegionsModel();
    device.ptcMaxNumOfUnit = model.ptcMaxNumOfUnit();
    return device;
}

// The catalogue's name of the model, if it lists it.
const AllQFXModels* catalogueModel(const std::optional<AllQFXData>& catalogue, std::int32_t deviceID)
{
    if (!catalogue || !catalogue->modelsList()) return nullptr;
    for (const AllQFXModels& model : *catalogue->modelsList())
        if (model.modelIdInt() == deviceID) return &model;
    return nullptr;
}

}  // namespace

// ---- requests and answers ----

void CommonUtils::connectDevice()
{
    post([this] {
        // A scan finds no new device while one is connected and would report it gone: the connected one is kept.
        if (m_isConnectDevice) return;
        std::vector<ServerDeviceModel> accepted;
        if (m_allQFXData && m_allQFXData->modelsList())
            for (const AllQFXModels& model : *m_allQFXData->modelsList()) accepted.push_back(serverDeviceModel(model));
        m_parser.scanDeviceWithAcceptDeviceArray(
            std::move(accepted),
            static_cast<std::int32_t>(m_configuration.integer(platform::Configuration::kTime_Of_Retry)),
            static_cast<float>(m_configuration.floating(platform::Configuration::kCommand_Time_Out)));
    });
}

void CommonUtils::dataFromDevice()
{
    addRequest(RequestKind::GetQFXList, [this] { m_parser.getQFXList(); });
}

void CommonUtils::ejectDeviceWithPatchList(const std::vector<std::shared_ptr<PatchItem>>& /*patchList*/,
                                           const std::function<void(bool)>& /*successBlock*/)
{
    addRequest(RequestKind::Eject, [this] { m_parser.ejectDevice(); });
}

void CommonUtils::ejectDeviceForClosing()
{
    addRequest(RequestKind::EjectForClosing, [this] { m_parser.ejectDevice(); });
}

void CommonUtils::forceEjectDevice()
{
    post([this] { forceEject(); });
}

void CommonUtils::forceEjectDeviceNow()
{
    m_parser.forceEject();
    resetQueue();
}

void CommonUtils::forceEject()
{
    reset();
    m_parser.forceEject();
}

std::int32_t CommonUtils::getMaxEffectInDevice() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published.isConnectDevice ? m_published.numberOfEffectInDevice : 0;
}

std::uint32_t CommonUtils::getNumberOfExistedEffectsInDevice() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published.numberOfEffects;
}

std::optional<std::string> CommonUtils::getDeviceVersion() const
{
    {
        std::lock_guard lock(m_publishedMutex);
        if (!m_published.isConnectDevice) return std::string();
    }
    const auto version = m_parser.getDeviceVersion();
    if (!version) return std::string();
    // A version shorter than the four bytes ends at its first zero.
    std::string text(version->begin(), std::find(version->begin(), version->end(), std::uint8_t{0}));
    if (!platform::Utf8::isValid(text)) return std::nullopt;
    return text;
}

std::optional<std::string> CommonUtils::getDeviceName() const
{
    std::lock_guard lock(m_publishedMutex);
    if (m_published.deviceID == 0 || !m_published.allQFXData || !m_published.isConnectDevice) return std::nullopt;
    if (const AllQFXModels* model = catalogueModel(m_published.allQFXData, m_published.deviceID))
        return model->modelName();
    return m_published.deviceName;
}

// ---- the flows ----

void CommonUtils::getQFXListFromDeviceFlow(const Request& request) { runFlow(request); }

void CommonUtils::ejectingDeviceFlow(const Request& request) { runFlow(request); }

void CommonUtils::ejectDeviceForClosingFlow(const Request& request)
{
    // The sequencer is reached from the main thread, as quitting expects; the flow never waits for it.
    Request onMain = request;
    onMain.start = [this, alive = std::weak_ptr<bool>(m_alive)] {
        m_dispatch.main().async([this, alive] {
            if (alive.lock()) m_parser.ejectDevice();
        });
    };
    runFlow(onMain);
}

// ---- the sequencer's results ----

void CommonUtils::connectionWithState(std::int32_t state, std::int32_t subState)
{
    post([this, state, subState] {
        // A unit let go during the pool's copies has its folder removed once they have landed: a unit
        // connected meanwhile would be read into that folder (and the copies read its files), so its
        // state, and every one after it, waits for the removal, in the order they came.
        if (m_deviceFolderRemovals.load() == 0 && m_connectionStatesHeld == 0) return takeConnectionState(state, subState);
        ++m_connectionStatesHeld;
        m_dispatch.main().async([this, alive = std::weak_ptr<bool>(m_alive), state, subState] {
            if (!alive.lock()) return;
            afterPoolWork([this, state, subState] {
                post([this, state, subState] {
                    --m_connectionStatesHeld;
                    takeHeldConnectionState(state, subState);
                });
            });
        });
    });
}

void CommonUtils::takeHeldConnectionState(std::int32_t state, std::int32_t subState)
{
    if (state == 1) {
        // The unit went while its connection waited (pulled out, let go by a sleep): the sequencer
        // holds it no more and its going was told, so there is nothing to read. A later connection
        // taken first is the sequencer's own, and this one would only empty its folder under its read.
        if (!m_parser.isConnected() || m_isConnectDevice) {
            RIG_LOG("a connection that waited is over: not read");
            return;
        }
        // One that waited while the end began is one the end never saw: it is let go, not read while
        // the program goes.
        if (m_closing.load()) {
            RIG_LOG("a unit connected as the program ends: let go");
            forceEject();
            return;
        }
    }
    takeConnectionState(state, subState);
}

void CommonUtils::takeConnectionState(std::int32_t state, std::int32_t subState)
{
    {
        RIG_LOG("connection state %d (%d)", state, subState);
        if (state != 1) {
            m_isConnectDevice = false;
            m_isGettingDataDevice = false;
            forceEject();
            if (state == 3 && !m_isConnectingInternet && m_allQFXData)
                tell([](CommonUtilsDelegate& d) { d.deviceConnectWithState(3); });
            return;
        }
        // The eject may have taken the store with it: the synchronisation refills it and connects again.
        if (m_isEjectedDevice && (!m_files.exists(m_rootPath) || !m_files.exists(pathUnderRoot(kStoreEffect)))) {
            syncEffect();
            return;
        }
        m_isConnectDevice = true;
        // From here on this connection writes the unit's folders: a removal asked for an earlier one leaves them.
        m_unitConnections.begin();
        const std::string deviceFolder = pathUnderRoot(kTempDevice);
        platform::Error error;
        if (m_files.exists(deviceFolder) && !m_files.removeItem(deviceFolder, &error)) {
            // A read into what the last device left would mix the two: the device is let go visibly.
            RIG_LOG("cannot delete the device folder: %s", error.description.c_str());
            tell([](CommonUtilsDelegate& d) { d.getQFXListwithFailedState(0); });
            forceEject();
            return;
        }
        m_numberOfEffectInDevice = m_parser.getNumberOfFileInDevice();
        m_deviceID = m_parser.getDeviceID();
        if (const AllQFXModels* model = catalogueModel(m_allQFXData, m_deviceID)) m_deviceName = model->modelName();
        publish();
        // The device's list marks the pool for this device, and its loaded effects that the store holds in
        // newer versions are queued for update behind the read.
        m_createEffectListBlock = [this] {
            mergeEffectNow();
            createEffectListNow();
        };
        tell([](CommonUtilsDelegate& d) {
            d.didDoSynchronizationActionDevice(std::nullopt);
            d.didPreventEjectAction();
            d.deviceConnectWithState(1);
        });
        m_knownListRestoreTried = false;
        queueEffectListRepair();
        dataFromDevice();
    }
}

void CommonUtils::getQFXListOrQFXWithState(std::int32_t state, const std::optional<Bytes>& qfxList)
{
    post([this, state, qfxList] { receiveQFXListOrQFX(state, qfxList); });
}

void CommonUtils::failDeviceRead(std::int32_t state)
{
    if (state == -4 || state == -1) {
        m_isGettingDataDevice = false;
        reset();
        tell([](CommonUtilsDelegate& d) { d.deviceLostConnectOrNoReply(); });
    } else if (state == -2) {
        forceEject();
        tell([](CommonUtilsDelegate& d) { d.deviceDisonnect(); });
    } else {
        tell([state](CommonUtilsDelegate& d) {
            d.deviceLetGo();
            d.getQFXListwithFailedState(state);
        });
        forceEject();
    }
}

void CommonUtils::getFileLengthWithState(std::int32_t state, std::int64_t length)
{
    post([this, state, length] {
        if (isRunning(RequestKind::RepairEffectList) && m_repairStep == RepairStep::CheckModules)
            repairModuleChecked(state, length);
    });
}
