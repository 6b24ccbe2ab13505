#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DemoFolder.h"
#include "common/Bytes.h"
#include "support/server/LoopbackServer.h"

class DemoUnit;
class PatchManagerViewController;
class QWidget;

namespace support {
class PrivateLoginManager;
}

namespace platform {
class FileManager;
}

// The program as its own main composes it (the real coordinator, adapters and both screens) on the
// offscreen platform, against the demo's simulated unit on the in-process MIDI backend, the demo's
// catalogue on a loopback server and the demo's saved patch library, all in a folder of its own.
// A process runs the program once: ctest runs each test of this tier in a process of its own.
class ProgramRig {
public:
    struct Options {
        // The unit answers at a MIDI cable's pace, so a write lasts long enough to act during it.
        bool slowUnit = false;
        // The effect files the unit has room for; 0 leaves the demo unit's own count.
        std::uint16_t effectSlots = 0;
        // The quiet time before the unit's own changes show in the list, in seconds; 0: the shipped one.
        int quietSeconds = 0;
        // Sleep and wake come from a login manager of the rig's own, over the bus the program takes for
        // the system's: the program holds its delay lock on sleep as it does on a desktop.
        bool loginManager = false;
    };

    explicit ProgramRig(Options options);
    ProgramRig() : ProgramRig(Options{}) {}
    ~ProgramRig();
    ProgramRig(const ProgramRig&) = delete;
    ProgramRig& operator=(const ProgramRig&) = delete;

    // What the program reads and writes its files through, for faults a test injects; the local file
    // system's unless set before `run`.
    void setFiles(std::shared_ptr<platform::FileManager> files) { m_files = std::move(files); }

    // Runs the program. Once its window shows with the unit's patches read and listed, `body` runs on the
    // main thread; when it returns the program is told to end, unless it is ending already. Answers the
    // program's exit status; -1 when the unit was never read (the body did not run).
    int run(const std::function<void(ProgramRig&)>& body);

    // The same, failing the test unless the setup held, the body ran and the program ended with status 0.
    void runToTheEnd(const std::function<void(ProgramRig&)>& body);

    // Runs the program to its end in a rig of its own (made with `options`), `body` on the patch screen.
    static void onThePatchScreen(const std::function<void(ProgramRig&, DemoUnit&, QWidget&)>& body) { onThePatchScreen({}, body); }
    static void onThePatchScreen(Options options, const std::function<void(ProgramRig&, DemoUnit&, QWidget&)>& body);

    // Runs `test` of this test program (a disabled one, which only this runs) in a process of its own,
    // as the program's run before this rig's: its rig takes this rig's data folder, scratch folder and
    // catalogue. Whether that test passed.
    bool runEarlierRun(const std::string& test);
    // The same, killed (SIGKILL) once it made the file `mark` in the scratch folder; whether it was.
    bool runEarlierRunKilledAt(const std::string& test, const std::string& mark);

    DemoUnit& unit() { return *m_unit; }
    // The login manager the program hears sleep and wake from; none unless the options asked for one.
    support::PrivateLoginManager* loginManager() { return m_loginManager.get(); }
    QWidget& window();
    // The program's data folder.
    std::filesystem::path root() const;
    // The unit's working folders ("Temp/Device", "Temp/Effect/List", "Device/Patch") there now.
    std::vector<std::string> unitFolders() const;
    // A folder outside the program's, as a file manager's would be.
    std::filesystem::path scratch() const { return m_scratch; }
    // The saved library ("Pool" and "Backup" in it), the pool's working copy, and the note a quit or a
    // power-off leaves while it saves.
    std::filesystem::path library() const { return root() / "QFXMacApplication" / "Patch"; }
    std::filesystem::path workingCopy() const { return root() / "Temp" / "Local"; }
    std::filesystem::path closingNote() const { return root() / "Temp" / ".closing-pool"; }

    // Turns the event loop until `reached` holds or `limit` passes; whether it held.
    static bool waitUntil(const std::function<bool()>& reached,
                          std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Another program's window, given the keys as the user does when looking something up; none if it never had them.
    static std::unique_ptr<QWidget> anotherWindowTakesTheKeys();
    // Lets the event loop run for a while, for what must not happen.
    static void settle(std::chrono::milliseconds duration);
    // The information sheet (a message with its OK) that shows: whether one does, its text (empty without
    // one); closing it, or every one (how many there were).
    static bool informationShown();
    static std::string informationText();
    static void closeInformation();
    static int closeAnyInformation();
    // Closes the effect update notice when it shows, as a person reads and dismisses it.
    static void dismissUpdateNotice();
    // Undoes the newest edit from the Undo popover under the panes; false when the popover never opens.
    static bool undoFromThePopover(QWidget& window);
    // Whether the update notice showed after the first connection (the body starts once it is closed).
    bool updateNoticeSeen() const { return m_updateNoticeSeen; }
    // The names the list shows in rows [from, to), and those the unit holds in slots [from, to) (to -1: all).
    static std::vector<std::string> listNames(int from, int to);
    static std::vector<std::string> unitNames(DemoUnit& unit, int from = 0, int to = -1);
    // The names the patch files directly in `folder` carry, sorted; a file that does not parse counts as "?".
    static std::vector<std::string> patchNamesIn(const std::filesystem::path& folder);
    // The name the patch file carries; none when it does not parse.
    static std::optional<std::string> patchNameOf(const std::filesystem::path& file);
    static bool holds(const std::vector<std::string>& names, const std::string& name);
    // A file's bytes; empty when it cannot be read. Writing answers whether the bytes were written.
    static std::string readFile(const std::filesystem::path& path);
    static bool writeFile(const std::filesystem::path& path, std::string_view bytes);
    static bool writeFile(const std::filesystem::path& path, const Bytes& bytes)
    {
        return writeFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    // The folder in `parent` named `name`, with or without the pool's "[n] " order prefix; empty if none.
    static std::filesystem::path folderNamed(const std::filesystem::path& parent, const std::string& name);
    // Waits until the main window offers the action (a menu item) `text` enabled; whether it came.
    static bool offers(const char* text, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Triggers the main window's action `text` when it is enabled; whether it was.
    static bool choose(const char* text);
    // Gives the main window the keys; whether it took them.
    static bool focusWindow();
    // The patch screen; none before it shows.
    static PatchManagerViewController* patchScreen();
    // Renames the pool's patch as the demo's tour does; whether the new name showed.
    static bool renamePoolPatch();
    // From now on accepts each message box that shows, as a person would, after handing its text to `read`.
    static void answerMessages(std::function<void(const std::string&)> read);
    // Chooses Quit in the Control menu; the program then ends by itself, and `run` waits for it. False when
    // Quit was not there to choose (a sheet showing): nothing was asked, and `run` ends the program itself
    // once the body returns, so no run waits for an end nobody asked for.
    bool quitFromMenu();
    // Quit from the menu once it is offered (not while a sheet shows); fails the test when it never is.
    void quitWhenOffered();
    // Closes the main window as a pager's Close does, whatever has the keys; the program then ends by itself.
    void closeWindow();
    // Sends the process the signal `number`, as the session's end does; the program then ends by itself.
    void endBySignal(int number);
    // Called with the unit as it goes with the program's end, for what it holds then.
    void atUnitEnd(std::function<void(DemoUnit&)> look) { m_atUnitEnd = std::move(look); }
    // Switches to the patch screen; whether its list came to show the unit's patches and its pool the library.
    bool showPatchScreen();
    // Whether the unit is connected and read: Eject can be pressed, and the list, when it shows, is full.
    bool connectedAndRead();
    // Whether the unit, `readsBefore` patches asked before its connection, comes to be connected and read whole.
    bool readAgain(std::size_t readsBefore, std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Pulls the unit out and, once Connect is offered (any sheet then closed after `meanwhile`), plugs it
    // back in; whether it was read again whole and the busy line went quiet.
    bool replug(const std::function<void()>& meanwhile = {});

private:
    std::vector<std::pair<std::string, std::string>> configuration(const support::LoopbackServer& server) const;
    bool runEarlier(const std::string& test, const std::function<bool()>& killWhen);

    Options m_options;
    std::string m_error;
    std::unique_ptr<DemoFolder> m_folder;
    std::unique_ptr<support::LoopbackServer> m_server;
    std::filesystem::path m_busFolder;
    std::unique_ptr<support::PrivateLoginManager> m_loginManager;
    std::string m_root;
    std::filesystem::path m_scratch;
    std::shared_ptr<platform::FileManager> m_files;
    DemoUnit* m_unit = nullptr;
    bool m_quitAsked = false;
    bool m_updateNoticeSeen = false;
    std::function<void(DemoUnit&)> m_atUnitEnd;
};
