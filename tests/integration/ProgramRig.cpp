#include "ProgramRig.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoPool.h"
#include "DemoUnit.h"
#include "EffectTour.h"
#include "PoolTour.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/ProgramEnvironment.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "device/formats/OKVPatch.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Configuration.h"
#include "platform/files/ApplicationSupport.h"
#include "support/power/PrivateLoginManager.h"

namespace {

// The program's statics (the dialog queue, the undo stack, the shared queues) live once per process.
bool g_ranOnce = false;

// How long the program may take to end once a body asked it to (its end waits for the unit and the saves).
constexpr std::chrono::seconds kEndLimit{120};

// Set for a run started by runEarlierRun: the scratch folder of the rig that started it.
constexpr const char* kEarlierRun = "RIG_EARLIER_RUN";

}  // namespace

std::vector<std::pair<std::string, std::string>> ProgramRig::configuration(const support::LoopbackServer& server) const
{
    auto entries = DemoCatalogue::configurationEntries(server);
    if (m_options.quietSeconds > 0)
        entries.emplace_back(platform::Configuration::kTime_Of_Reload_Buffer_Data, std::to_string(m_options.quietSeconds));
    return entries;
}

ProgramRig::ProgramRig(Options options) : m_options(options)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (const char* earlier = std::getenv(kEarlierRun); earlier != nullptr && *earlier != '\0') {
        // The folders and the catalogue are the starting rig's, which the environment points at.
        m_scratch = earlier;
        m_root = platform::ApplicationSupport::rootFolder();
        return;
    }
    m_folder = std::make_unique<DemoFolder>();
    m_server = std::make_unique<support::LoopbackServer>();
    const auto resources = platform::Bundle::locateResources();
    if (!m_folder->valid()) {
        m_error = m_folder->error();
    } else if (!resources) {
        m_error = "the program's resources folder is missing";
    } else if (!DemoCatalogue::serve(*m_server, m_folder->scratch())) {
        m_error = "cannot pack the catalogue's archives";
    } else if (!m_folder->install(*resources, configuration(*m_server))) {
        m_error = m_folder->error();
    } else {
        m_root = platform::ApplicationSupport::rootFolder();
        m_scratch = m_folder->scratch();
        DemoPool::write(m_root, m_error);
    }
}

bool ProgramRig::runEarlierRun(const std::string& test) { return runEarlier(test, {}); }

bool ProgramRig::runEarlierRunKilledAt(const std::string& test, const std::string& mark)
{
    const std::filesystem::path made = m_scratch / mark;
    return runEarlier(test, [made] {
        std::error_code error;
        return std::filesystem::exists(made, error);
    });
}

bool ProgramRig::runEarlier(const std::string& test, const std::function<bool()>& killWhen)
{
    if (!m_error.empty() || g_ranOnce) {
        ADD_FAILURE() << (g_ranOnce ? "the program ran already" : m_error);
        return false;
    }
    std::vector<std::string> arguments{"/proc/self/exe", "--gtest_filter=" + test, "--gtest_also_run_disabled_tests"};
    // The child's rig takes this one's folders from its environment; setenv here could race the server's thread.
    std::vector<std::string> environment{std::string(kEarlierRun) + "=" + m_scratch.string()};
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (std::string(*entry).rfind(std::string(kEarlierRun) + "=", 0) != 0) environment.emplace_back(*entry);
    const auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> made;
        for (auto& text : texts) made.push_back(text.data());
        made.push_back(nullptr);
        return made;
    };
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return false;
    // A run that hangs is ended, within the time a test of this tier has.
    int status = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) break;
        if (ended < 0 && errno != EINTR) return false;
        const bool killed = killWhen && killWhen();
        if (killed || std::chrono::steady_clock::now() > limit) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return killed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !killWhen && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProgramRig::~ProgramRig()
{
    m_loginManager.reset();
    if (!m_busFolder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_busFolder, error);
    }
}

std::filesystem::path ProgramRig::root() const { return m_root; }

std::vector<std::string> ProgramRig::unitFolders() const
{
    std::vector<std::string> present;
    for (const char* folder : {"Temp/Device", "Temp/Effect/List", "Device/Patch"}) {
        std::error_code error;
        if (std::filesystem::exists(root() / folder, error)) present.emplace_back(folder);
    }
    return present;
}

QWidget& ProgramRig::window() { return *WindowGestures::mainWindow(); }

bool ProgramRig::waitUntil(const std::function<bool()>& reached, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!reached()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QEventLoop turn;
        QTimer::singleShot(10, &turn, &QEventLoop::quit);
        turn.exec();
    }
    return true;
}

std::unique_ptr<QWidget> ProgramRig::anotherWindowTakesTheKeys()
{
    auto other = std::make_unique<QWidget>();
    other->resize(300, 200);
    other->show();
    other->activateWindow();
    if (!waitUntil([&] { return other->isActiveWindow(); }, std::chrono::seconds(5))) return nullptr;
    return other;
}

void ProgramRig::settle(std::chrono::milliseconds duration)
{
    waitUntil([] { return false; }, duration);
}

void ProgramRig::dismissUpdateNotice()
{
    if (QWidget* window = WindowGestures::mainWindow(); window != nullptr && EffectTour::updateNoticeShown())
        EffectTour::closeUpdateNotice(*window);
}

namespace {

UpdateInformationView* shownInformation()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (auto* sheet = top->findChild<UpdateInformationView*>(); sheet && sheet->isVisible()) return sheet;
    }
    return nullptr;
}

}  // namespace

bool ProgramRig::informationShown() { return shownInformation() != nullptr; }

bool ProgramRig::undoFromThePopover(QWidget& window)
{
    if (!waitUntil([&] {
            UndoTour::openUndoPopover(window);
            return UndoTour::undoPopoverShown();
        }, std::chrono::seconds(10)))
        return false;
    UndoTour::undoFromPopover(window);
    return true;
}

std::string ProgramRig::informationText()
{
    UpdateInformationView* sheet = shownInformation();
    return sheet ? sheet->informationTextField()->text().toStdString() : std::string();
}

void ProgramRig::closeInformation()
{
    if (UpdateInformationView* sheet = shownInformation()) sheet->okButton()->click();
}

int ProgramRig::closeAnyInformation()
{
    int closed = 0;
    for (; informationShown(); ++closed) closeInformation();
    return closed;
}

bool ProgramRig::connectedAndRead()
{
    QWidget* window = WindowGestures::mainWindow();
    if (window == nullptr || m_unit == nullptr) return false;
    auto* eject = window->findChild<QPushButton*>(QStringLiteral("ejectButton"));
    const std::int32_t last = m_unit->patchCount() - 1;
    QTableView* list = WindowGestures::patchList(*window);
    return eject != nullptr && eject->isEnabled() && m_unit->patchesRead() &&
           (list == nullptr || !list->isVisible() ||
            WindowGestures::patchListText(last, 1).toStdString() == m_unit->patchNameAt(last).value_or("-"));
}

bool ProgramRig::readAgain(std::size_t readsBefore, std::chrono::milliseconds limit)
{
    return waitUntil([&] {
        return m_unit->patchRequests() >= readsBefore + static_cast<std::size_t>(m_unit->patchCount()) && connectedAndRead();
    }, limit);
}

bool ProgramRig::replug(const std::function<void()>& meanwhile)
{
    closeAnyInformation();
    m_unit->unit().device().unplug();
    // Plugged in before the program saw it go, the unit would still count as read by the last connection.
    if (!offers("Connect", std::chrono::seconds(30))) return false;
    if (meanwhile) meanwhile();
    closeAnyInformation();
    const std::size_t reads = m_unit->patchRequests();
    m_unit->unit().device().plugIn();
    return readAgain(reads) && waitUntil([&] { return WindowGestures::busyLine(window()).isEmpty(); }, std::chrono::seconds(20));
}

bool ProgramRig::showPatchScreen()
{
    WindowGestures::clickButton(window(), "patchManagerButton");
    const std::int32_t last = m_unit->patchCount() - 1;
    return waitUntil([&] {
        return WindowGestures::patchListText(last, 1).toStdString() == m_unit->patchNameAt(last).value_or("-") &&
               PoolTour::showsTopLevel(DemoPool::kGroupName);
    });
}

std::vector<std::string> ProgramRig::listNames(int from, int to)
{
    std::vector<std::string> names;
    for (int row = from; row < to; ++row) names.push_back(WindowGestures::patchListText(row, 1).toStdString());
    return names;
}

std::vector<std::string> ProgramRig::unitNames(DemoUnit& unit, int from, int to)
{
    std::vector<std::string> names;
    for (int slot = from; slot < (to < 0 ? unit.patchCount() : to); ++slot) names.push_back(unit.patchNameAt(slot).value_or("?"));
    return names;
}

std::vector<std::string> ProgramRig::patchNamesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().extension() == ".qptc") names.push_back(patchNameOf(entry.path()).value_or("?"));
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> ProgramRig::patchNameOf(const std::filesystem::path& file)
{
    const std::string bytes = readFile(file);
    const auto patch = OKVPatch::initWithData(Bytes(bytes.begin(), bytes.end()));
    return patch ? std::optional(patch->patchName()) : std::nullopt;
}

bool ProgramRig::holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string ProgramRig::readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ProgramRig::writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

std::filesystem::path ProgramRig::folderNamed(const std::filesystem::path& parent, const std::string& name)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
        const std::string folder = entry.path().filename().string();
        if (!entry.is_directory()) continue;
        if (folder == name) return entry.path();
        const auto close = folder.find("] ");
        if (folder.rfind("[", 0) == 0 && close != std::string::npos && folder.substr(close + 2) == name)
            return entry.path();
    }
    return {};
}

bool ProgramRig::offers(const char* text, std::chrono::milliseconds limit)
{
    return waitUntil([&] { return WindowGestures::enabledAction(*WindowGestures::mainWindow(), QString::fromUtf8(text)); }, limit);
}

bool ProgramRig::choose(const char* text)
{
    QAction* action = WindowGestures::enabledAction(*WindowGestures::mainWindow(), QString::fromUtf8(text));
    if (action != nullptr) action->trigger();
    return action != nullptr;
}

bool ProgramRig::focusWindow()
{
    QWidget* window = WindowGestures::mainWindow();
    window->activateWindow();
    return waitUntil([&] { return window->isActiveWindow(); }, std::chrono::seconds(5));
}

PatchManagerViewController* ProgramRig::patchScreen()
{
    auto* view = WindowGestures::mainWindow()->findChild<PatchPoolOutlineView*>();
    return view != nullptr && view->poolModel() != nullptr
               ? dynamic_cast<PatchManagerViewController*>(&view->poolModel()->dataSource())
               : nullptr;
}

bool ProgramRig::renamePoolPatch()
{
    PoolTour::renamePatch(*WindowGestures::mainWindow());
    return waitUntil(PoolTour::patchRenamed, std::chrono::seconds(10));
}

void ProgramRig::answerMessages(std::function<void(const std::string&)> read)
{
    auto* reader = new QTimer(qApp);
    QObject::connect(reader, &QTimer::timeout, [read = std::move(read)] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box == nullptr || !box->isVisible()) continue;
            read(box->text().toStdString());
            box->accept();
        }
    });
    reader->start(20);
}

void ProgramRig::quitWhenOffered()
{
    if (!offers("Quit", std::chrono::seconds(20)) || !quitFromMenu())
        ADD_FAILURE() << "Quit was never offered; showing: " << informationText();
}

bool ProgramRig::quitFromMenu()
{
    QAction* quit = WindowGestures::enabledAction(window(), QStringLiteral("Quit"));
    if (quit == nullptr) return false;
    m_quitAsked = true;
    quit->trigger();
    return true;
}

void ProgramRig::closeWindow()
{
    m_quitAsked = true;
    window().close();
}

void ProgramRig::endBySignal(int number)
{
    m_quitAsked = true;
    ::raise(number);
}

void ProgramRig::onThePatchScreen(Options options, const std::function<void(ProgramRig&, DemoUnit&, QWidget&)>& body)
{
    ProgramRig rig(options);
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        body(rig, rig.unit(), rig.window());
    });
}

void ProgramRig::runToTheEnd(const std::function<void(ProgramRig&)>& body)
{
    ASSERT_EQ(m_error, "");
    EXPECT_EQ(run(body), 0) << m_error;
}

int ProgramRig::run(const std::function<void(ProgramRig&)>& body)
{
    if (g_ranOnce) {
        m_error = "the program runs once per process: run this tier's tests through ctest";
        return -1;
    }
    g_ranOnce = true;
    if (m_options.loginManager) {
        // A bus socket's path is short: the bus gets a folder of its own under the system's temporary one.
        char folder[] = "/tmp/rig-bus-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            m_error = "cannot make the login manager's folder";
            return -1;
        }
        m_busFolder = folder;
        m_loginManager = std::make_unique<support::PrivateLoginManager>(folder);
        if (!m_loginManager->ready()) {
            m_error = "the login manager did not start";
            return -1;
        }
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", m_loginManager->address().c_str(), 1);
    }
    ProgramEnvironment environment;
    environment.rootFolder = m_root;
    environment.files = m_files;
    environment.configuration = platform::Configuration::load(platform::Bundle::main());
    environment.midiSystem = [this](platform::Dispatch& dispatch) -> std::shared_ptr<platform::MidiSystem> {
        auto made = std::make_shared<DemoUnit>(dispatch);
        // 3,125 bytes a second: a MIDI cable's rate.
        if (m_options.slowUnit) made->unit().setPacing(3125.0, std::chrono::microseconds(0));
        if (m_options.effectSlots > 0) {
            SimulatedFileSystem::Information information;
            information.numOfFiles = m_options.effectSlots;
            made->unit().files().setInformation(information);
        }
        m_unit = made.get();
        made->setBeforeEnd([this](DemoUnit& unit) {
            if (m_atUnitEnd) m_atUnitEnd(unit);
        });
        return DemoUnit::system(made);
    };
    bool bodyRan = false;
    environment.launched = [&] {
        QTimer::singleShot(0, qApp, [&] {
            if (!waitUntil([&] { return connectedAndRead(); }, std::chrono::seconds(60))) {
                QCoreApplication::exit(1);
                return;
            }
            // The unit's outdated effect is updated at the connection and the notice tells it; a person
            // reads it and closes it before anything else.
            m_updateNoticeSeen = waitUntil([] { return EffectTour::updateNoticeShown(); }, std::chrono::seconds(30));
            dismissUpdateNotice();
            bodyRan = true;
            body(*this);
            if (QCoreApplication::closingDown()) return;
            // A body that asked the program to quit leaves the end to the program. One that did not (it failed,
            // or had nothing to end) has the rig end it; the end may then say in a message what became of the
            // pool, which a person would read and close, and nobody here would: the rig closes each one.
            if (!m_quitAsked) {
                answerMessages([](const std::string& text) { std::fprintf(stderr, "the end said: %s\n", text.c_str()); });
                QCoreApplication::exit(0);
            }
            // Either end comes within a bound: one that never comes is told, with what shows then, and the
            // run ends instead of waiting for the limit of whoever runs the test.
            QTimer::singleShot(kEndLimit, qApp, [] {
                ADD_FAILURE() << "the program did not end; showing: " << informationText();
                QCoreApplication::exit(1);
            });
        });
    };
    static char name[] = "pexo-rigmora-integration";
    char* argv[] = {name, nullptr};
    const int status = runProgram(1, argv, environment);
    m_unit = nullptr;
    return bodyRan ? status : -1;
}
