#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/DevicePropertyViewController.h"
#include "app/dialogs/DuplicatingFileNameAlert.h"
#include "app/dialogs/ShowDeviceIconImageView.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/shell/AppDelegate.h"
#include "support/app/Events.h"
#include "support/app/FakeEffectUpdateSheet.h"
#include "support/app/FakePatchScreen.h"
#include "support/app/TestApplication.h"

static_assert(!std::is_abstract_v<testing_app::FakePatchScreen>);
static_assert(!std::is_abstract_v<testing_app::FakeEffectUpdateSheet>);

namespace {

using Log = std::vector<std::string>;
using testing_app::key;

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    QString shownInformation() const
    {
        return queue.showingSheet() && queue.informationView() ? queue.informationView()->informationTextField()->text() : QString();
    }
    void ok() { queue.informationView()->okButton()->click(); }
    void confirm(bool isDefaultFirstButton)
    {
        queue.showConfirmationDialogWithTitle("Delete?", "It cannot be undone.", "First", "Second", [this] { log.push_back("first"); },
                                              [this] { log.push_back("second"); }, isDefaultFirstButton);
    }
    // A name-taken alert whose answers go into the log.
    DuplicatingFileNameAlert* alert(const char* name, std::function<void()> unanswered = {})
    {
        auto* made = new DuplicatingFileNameAlert(name);
        made->showAlertInWindow(nullptr, queue, [this] { log.push_back("keep both"); }, [this] { log.push_back("replace"); },
                                [this] { log.push_back("cancel"); }, std::move(unanswered));
        return made;
    }
    // Whether nothing shows, nothing waits and no dialog is said to show.
    bool idle() const { return !queue.showingSheet() && !queue.isDoingBlockAction() && !appDelegate.isShowingDialog(); }
    AppDelegate appDelegate;
    ShowingDialogQueue queue{appDelegate};
    Log log;
};

TEST_F(Dialogs, QueuedMessagesShowOneAtATimeInOrder)
{
    for (const char* text : {"one", "two", "three"}) queue.showDialogWithInformation(text);
    for (const char* text : {"one", "two", "three"}) {
        EXPECT_EQ(shownInformation(), text);
        EXPECT_TRUE(appDelegate.isShowingDialog());
        key(queue.showingSheet(), Qt::Key_Escape);  // only OK closes a sheet
        ASSERT_TRUE(queue.showingSheet()->isVisible());
        ok();
    }
    EXPECT_TRUE(idle());
}

// At the start the main window is activated once it has painted, after a first notice may be up.
TEST_F(Dialogs, AShownSheetTakesTheKeysFromItsWindow)
{
    QWidget window;
    window.resize(400, 300);
    appDelegate.setMainWindow(&window);
    window.show();
    queue.showDialogWithInformation("kept");
    QWidget* sheet = queue.showingSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return sheet->isActiveWindow(); }));
    window.activateWindow();
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return sheet->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget() ? QApplication::focusWidget()->window() : nullptr, sheet);
    ok();
    appDelegate.setMainWindow(nullptr);
}

TEST_F(Dialogs, AnActionThatOpensNothingOrASheetThatVanishesReleasesTheQueue)
{
    queue.addBlockActionQueue([] { return nullptr; });
    queue.addBlockActionQueue([this] { return queue.sheetWindowWithView(new QLabel("gone")); });
    queue.showDialogWithInformation("next");
    ASSERT_NE(queue.showingSheet(), nullptr);
    EXPECT_EQ(queue.waitingActionCount(), 1u);
    delete queue.showingSheet();
    EXPECT_FALSE(queue.isDoingBlockAction());
    EXPECT_TRUE(testing_app::processEventsUntil([this] { return shownInformation() == "next"; }));
}

TEST_F(Dialogs, MessageQueuedFromAButtonShowsAfterTheConfirmationCloses)
{
    queue.showConfirmationDialogWithTitle(
        "Title", "Description", "Yes", "No", [this] { queue.showDialogWithInformation("done", [this] { log.push_back("ok"); }); }, {}, true);
    EXPECT_EQ(queue.confirmationView()->titleLabel()->text(), "Title");
    queue.confirmationView()->firstButton()->click();
    EXPECT_TRUE(!queue.confirmationView()->isVisible() && shownInformation() == "done");
    ok();
    EXPECT_EQ(log, Log{"ok"});
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

TEST_F(Dialogs, ClearAllDialogClosesTheShownSheetAndDropsTheWaitingOnes)
{
    confirm(true);
    queue.showDialogWithInformation("waiting");
    confirm(true);
    QDialog* shown = queue.showingSheet();
    queue.clearAllDialog();
    testing_app::spin();
    EXPECT_TRUE(!shown->isVisible() && queue.waitingActionCount() == 0u && idle() && log.empty());
}

TEST_F(Dialogs, KeysMoveTheFocusAmongTheButtonsAndReturnClicksIt)
{
    const std::tuple<bool, std::vector<int>, std::string> cases[] = {
        {false, {}, "second"},          {false, {Qt::Key_Right}, "first"},        {true, {Qt::Key_Left}, "second"},
        {true, {Qt::Key_Tab}, "second"}, {true, {Qt::Key_Right, Qt::Key_Tab}, "first"}, {true, {Qt::Key_Escape}, "first"},
        {true, {Qt::Key_Backtab}, "first"},
    };
    for (const auto& [isDefaultFirstButton, keys, clicked] : cases) {
        SCOPED_TRACE(testing::Message() << isDefaultFirstButton << " " << keys.size() << " keys");
        log.clear();
        confirm(isDefaultFirstButton);
        ConfirmationView* view = queue.confirmationView();
        for (int each : keys) key(view, each);
        EXPECT_EQ(std::pair(view->firstButton()->isDefault(), view->secondButton()->isDefault()),
                  std::pair(clicked == "first", clicked == "second"));
        key(view, Qt::Key_Return);
        EXPECT_TRUE(log == Log{clicked} && queue.showingSheet() == nullptr) << testing::PrintToString(log);
    }
}

TEST_F(Dialogs, DevicePictureOpensThePropertySheetOnlyOnALeftClickWhenConnectedAndNoDialogShows)
{
    const std::tuple<bool, bool, Qt::MouseButton, Qt::KeyboardModifiers, bool> cases[] = {
        {false, false, Qt::LeftButton, {}, false},
        {true, true, Qt::LeftButton, {}, false},
        {true, false, Qt::RightButton, {}, false},
        {true, false, Qt::MiddleButton, {}, false},
        {true, false, Qt::LeftButton, Qt::MetaModifier, false},  // a Control-click: a right click
        {true, false, Qt::LeftButton, {}, true},
    };
    for (const auto& [connected, showing, button, modifiers, opens] : cases) {
        SCOPED_TRACE(testing::Message() << connected << showing << button << modifiers.toInt());
        ShowDeviceIconImageView picture(queue);
        picture.setDeviceName("QX-9");
        appDelegate.setDeviceConnected(connected);
        appDelegate.setIsShowingDialog(showing);
        testing_app::click(&picture, {2, 2}, button, modifiers);
        ASSERT_EQ(queue.showingSheet() != nullptr, opens);
        EXPECT_EQ(queue.waitingActionCount(), 0u);
        if (!opens) continue;
        DevicePropertyViewController* sheet = picture.devicePropertyViewController();
        EXPECT_EQ(std::tuple(sheet->modelNameTextField()->text(), sheet->versionTextField()->text(), sheet->deviceModelLabel()->text()),
                  std::tuple("QX-9", "", "Device model"));
        EXPECT_TRUE(sheet->okButton()->isDefault());
        sheet->okButton()->click();
        EXPECT_TRUE(idle());
    }
}

// The alert offers no close button, but a window manager may close it anyway: that answers Cancel.
TEST_F(Dialogs, EachAlertAnswerRunsItsOwnActionThroughTheQueue)
{
    const std::pair<int, const char*> answers[] = {{DuplicatingFileNameAlert::kCancelReturn, "cancel"},
                                                   {DuplicatingFileNameAlert::kReplaceReturn, "replace"},
                                                   {DuplicatingFileNameAlert::kKeepBothReturn, "keep both"}};
    for (const auto& [answer, told] : answers) {
        log.clear();
        queue.showDialogWithInformation("first");
        auto* asked = alert("100% fuzz %@.qptc");
        EXPECT_EQ(queue.waitingActionCount(), 1u) << "the alert waits for the sheet before it";
        ok();
        ASSERT_EQ(queue.showingSheet(), asked);
        EXPECT_EQ(asked->text(), "An item named 100% fuzz %@.qptc already exists.");
        EXPECT_TRUE(appDelegate.isShowingDialog());
        asked->buttonWithReturnCode(answer)->click();
        EXPECT_TRUE(log == Log{told} && idle()) << testing::PrintToString(log);
    }
    const std::pair<const char*, std::function<void(DuplicatingFileNameAlert*)>> closes[] = {
        {"Return", [](auto* asked) { key(asked, Qt::Key_Return); }},
        {"Escape", [](auto* asked) { key(asked, Qt::Key_Escape); }},
        {"a close", [](auto* asked) { asked->close(); }},
    };
    for (const auto& [name, close] : closes) {
        SCOPED_TRACE(name);
        log.clear();
        auto* asked = alert("taken.qptc", [this] { log.push_back("unanswered"); });
        ASSERT_EQ(queue.showingSheet(), asked);
        EXPECT_FALSE(asked->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        EXPECT_EQ(asked->defaultButton(), asked->buttonWithReturnCode(DuplicatingFileNameAlert::kCancelReturn));
        close(asked);
        EXPECT_TRUE(log == Log{"cancel"} && idle()) << testing::PrintToString(log);
    }
    auto* silent = new DuplicatingFileNameAlert("a");
    silent->showAlertInWindow(nullptr, queue, {}, {}, {});
    silent->buttonWithReturnCode(DuplicatingFileNameAlert::kReplaceReturn)->click();
    EXPECT_TRUE(idle());
}

// An unplugged unit, a second one or Quit clears the dialogs: a let-go alert says what was not done, once.
TEST_F(Dialogs, ANameTakenAlertTheQueueLetsGoIsAnsweredCancelAndSaysSo)
{
    const auto ask = [this](const char* name) {
        return QPointer<DuplicatingFileNameAlert>(alert(name, [this, name] {
            log.push_back(std::string("unanswered ") + name);
            queue.showDialogWithInformation(QStringLiteral("%1 was not copied").arg(QString::fromLatin1(name)));
        }));
    };
    const auto letGo = [this](const QPointer<DuplicatingFileNameAlert>& alerted, const char* name) {
        SCOPED_TRACE(name);
        queue.clearAllDialog();
        EXPECT_EQ(log, (Log{"cancel", std::string("unanswered ") + name}));
        EXPECT_FALSE(alerted && alerted->isVisible());
        EXPECT_TRUE(shownInformation() == QString::fromLatin1(name) + " was not copied" && appDelegate.isShowingDialog());
        ok();
        EXPECT_TRUE(idle());
        log.clear();
    };
    confirm(true);
    const auto waiting = ask("waiting.qptc");
    EXPECT_EQ(queue.waitingActionCount(), 1u);
    letGo(waiting, "waiting.qptc");
    const auto showing = ask("showing.qptc");
    ASSERT_EQ(queue.showingSheet(), showing.data());
    letGo(showing, "showing.qptc");
    log.clear();
    const auto answered = ask("answered.qptc");
    answered->buttonWithReturnCode(DuplicatingFileNameAlert::kReplaceReturn)->click();
    queue.clearAllDialog();
    EXPECT_TRUE(log == Log{"replace"} && queue.showingSheet() == nullptr) << testing::PrintToString(log);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(waiting || showing || answered) << "every alert goes once it is done with";
}

}  // namespace
