#include "library/CommonUtils.h"

#include <chrono>
#include <stdexcept>

#include "common/Log.h"
#include "device/sequencer/ParserDataController.h"
#include "platform/files/FileManager.h"
#include "platform/files/WorkFolderName.h"
#include "server/DownloadAPIController.h"

namespace {

std::atomic<CommonUtils*> g_shared{nullptr};

}  // namespace

CommonUtils::CommonUtils(Collaborators collaborators)
    : m_dispatch(collaborators.dispatch),
      m_files(collaborators.files),
      m_configuration(collaborators.configuration),
      m_parser(collaborators.parser),
      m_rootPath(std::move(collaborators.rootPath)),
      m_state(m_dispatch.makeSerial("library.coordinator", platform::Priority::Default)),
      m_alive(std::make_shared<bool>(true)),
      m_rescanTimer(collaborators.timers),
      m_quitTimer(collaborators.timers),
      m_sleepTimer(collaborators.timers)
{
    startUp();
}

CommonUtils::~CommonUtils()
{
    m_parser.setParserDataDelegate(nullptr);
    m_rescanTimer.cancel();
    m_quitTimer.cancel();
    m_sleepTimer.cancel();
    m_poolQueue->sync([] {});
    m_pictureQueue->sync([] {});
    m_cleanupQueue->sync([] {});
    // Once this has run on the state queue no later task there touches the object.
    m_state->sync([this] { m_alive.reset(); });
    CommonUtils* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

CommonUtils& CommonUtils::getInstance()
{
    CommonUtils* utils = g_shared.load();
    if (utils == nullptr) throw std::logic_error("no CommonUtils installed");
    return *utils;
}

void CommonUtils::setShared(CommonUtils* utils) { g_shared.store(utils); }

std::string CommonUtils::pathUnderRoot(const std::string& relative) const { return m_rootPath + "/" + relative; }

void CommonUtils::startUp()
{
    m_parser.setParserDataDelegate(this);
    // "Temp" holds only what this run makes. The last run's is renamed aside at once and removed, with any
    // earlier leftover, on a queue of its own: thousands of files need not hold up the first window. A
    // failure is logged and the operations that write there fail on their own later.
    const std::string temp = pathUnderRoot(kTemp);
    platform::Error error;
    keepPoolOfACutRun();
    if (m_files.itemKind(temp) != platform::ItemKind::Missing) {
        const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
        const std::string aside = pathUnderRoot(std::string(kTempAside) + "-" + std::to_string(stamp));
        if (!m_files.moveItem(temp, aside, &error) && !m_files.removeItem(temp, &error))
            RIG_LOG("cannot delete folder temp: %s", error.description.c_str());
    }
    if (!m_files.createDirectory(temp, true, &error))
        RIG_LOG("cannot create folder temp: %s", error.description.c_str());
    // So does the effect store's staging folder, where a killed run leaves half an unpacked effect: set
    // aside before this run's first download can unpack into it.
    const std::string staging = pathUnderRoot(DownloadAPIController::kEffectStagingFolder);
    if (m_files.itemKind(staging) != platform::ItemKind::Missing) {
        const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
        const std::string aside = pathUnderRoot(std::string(kTempAside) + "-staging-" + std::to_string(stamp));
        if (!m_files.moveItem(staging, aside, &error) && !m_files.removeItem(staging, &error))
            RIG_LOG("cannot delete the effect staging folder: %s", error.description.c_str());
    }
    m_cleanupQueue->async([this] {
        for (const std::string& name : m_files.contentsOfDirectory(m_rootPath).value_or(std::vector<std::string>{})) {
            if (name.rfind(kTempAside, 0) != 0) continue;
            platform::Error failure;
            if (!m_files.removeItem(pathUnderRoot(name), &failure))
                RIG_LOG("cannot remove an earlier temp folder: %s", failure.description.c_str());
        }
        removeWorkFoldersInEffectStore();
    });
}

void CommonUtils::removeWorkFoldersInEffectStore()
{
    // Earlier versions unpacked inside the store itself: what a killed run left there goes too. No unpack
    // works there any more, so nothing found is in use. Effects lie at most a model folder deep.
    const std::string store = pathUnderRoot(kStoreEffect);
    std::vector<std::string> folders{store};
    for (const std::string& name : m_files.contentsOfDirectory(store).value_or(std::vector<std::string>{}))
        if (!platform::WorkFolderName::is(name) && m_files.isDirectory(store + "/" + name)) folders.push_back(store + "/" + name);
    for (const std::string& folder : folders)
        for (const std::string& name : m_files.contentsOfDirectory(folder).value_or(std::vector<std::string>{})) {
            if (!platform::WorkFolderName::is(name)) continue;
            platform::Error failure;
            if (!m_files.removeItem(folder + "/" + name, &failure))
                RIG_LOG("cannot remove a cut-off unpack: %s", failure.description.c_str());
        }
}

void CommonUtils::post(std::function<void()> task)
{
    m_state->async([alive = std::weak_ptr<bool>(m_alive), task = std::move(task)] {
        if (alive.lock()) task();
    });
}

void CommonUtils::tell(std::function<void(CommonUtilsDelegate&)> message)
{
    tellAbout(m_unitConnections.latest(), std::move(message));
}

void CommonUtils::tellAbout(std::uint64_t about, std::function<void(CommonUtilsDelegate&)> message)
{
    m_dispatch.main().async([alive = std::weak_ptr<bool>(m_alive), this, message = std::move(message), about] {
        if (!alive.lock()) return;
        if (CommonUtilsDelegate* receiver = delegate()) {
            // What the window asks while handling it is for the connection this was told about.
            const UnitConnections::Handling handling(m_unitConnections, about);
            message(*receiver);
        }
    });
}

void CommonUtils::publish()
{
    Published next;
    next.isConnectDevice = m_isConnectDevice;
    next.deviceID = m_deviceID;
    next.deviceName = m_deviceName;
    next.numberOfEffectInDevice = m_numberOfEffectInDevice;
    next.numberOfEffects = static_cast<std::uint32_t>(m_effectListFromDevice.size());
    next.effectTypeListInDevice = m_effectTypeListInDevice;
    next.allQFXData = m_allQFXData;
    std::lock_guard lock(m_publishedMutex);
    m_published = std::move(next);
}

void CommonUtils::dataFromServer(const std::optional<AllQFXData>& data)
{
    post([this, data] {
        // Without a usable catalogue the synchronisation run ends here.
        if (!data || data->isEmpty())
            tell([state = data ? 2 : 1, code = m_synchronizationCodeServer](CommonUtilsDelegate& d) {
                d.allQFXDataWithState(state);
                d.didFinishSynchronizationActionServer(code);
            });
        if (!data) return;
        m_isRetry = false;
        m_allQFXData = data->copy();
        m_modelNameList.clear();
        if (data->modelsList())
            for (const AllQFXModels& model : *data->modelsList()) m_modelNameList.push_back(model.modelName());
        publish();
    });
}
