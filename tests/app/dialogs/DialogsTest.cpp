#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>

#include <string>
#include <vector>

#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/DevicePropertyViewController.h"
#include "app/dialogs/DuplicatingFileNameAlert.h"
#include "app/dialogs/ShowDeviceIconImageView.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/dialogs/UpdateInformationView.h"
#include "app/shell/AppDelegate.h"
#include "support/app/FakeEffectUpdateSheet.h"
#include "support/app/FakePatchScreen.h"
#include "support/app/TestApplication.h"

static_assert(!std::is_abstract_v<testing_app::FakePatchScreen>);
static_assert(!std::is_abstract_v<testing_app::FakeEffectUpdateSheet>);

namespace {

using Log = std::vector<std::string>;

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }

    QString shownInformation() const
    {
        return queue.showingSheet() && queue.informationView() ? queue.informationView()->informationTextField()->text()
                                                               : QString();
    }
    void press(QWidget* target, int key)
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }
    void confirm(bool isDefaultFirstButton)
    {
        queue.showConfirmationDialogWithTitle("Delete?", "It cannot be undone.", "First", "Second",
                                              [this] { log.push_back("first"); }, [this] { log.push_back("second"); },
                                              isDefaultFirstButton);
    }

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
        press(queue.showingSheet(), Qt::Key_Escape);  // only OK closes a sheet
        ASSERT_TRUE(queue.showingSheet()->isVisible());
        queue.informationView()->okButton()->click();
    }
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(queue.isDoingBlockAction());
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

// A sheet has the keys as soon as it shows, also when its window is made active under it afterwards (at
// the start the main window is activated once it has painted, after a first notice is up).
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
    EXPECT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget() ? QApplication::focusWidget()->window() : nullptr, sheet);
    queue.informationView()->okButton()->click();
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
    queue.showConfirmationDialogWithTitle("Title", "Description", "Yes", "No",
                                          [this] { queue.showDialogWithInformation("done", [this] { log.push_back("ok"); }); },
                                          {}, true);
    EXPECT_EQ(queue.confirmationView()->titleLabel()->text(), "Title");
    queue.confirmationView()->firstButton()->click();
    EXPECT_FALSE(queue.confirmationView()->isVisible());
    EXPECT_EQ(shownInformation(), "done");
    queue.informationView()->okButton()->click();
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
    testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_EQ(queue.waitingActionCount(), 0u);
    EXPECT_FALSE(queue.isDoingBlockAction());
    EXPECT_FALSE(appDelegate.isShowingDialog());
    EXPECT_TRUE(log.empty());
}

TEST_F(Dialogs, KeysMoveTheFocusAmongTheButtonsAndReturnClicksIt)
{
    struct Case {
        bool isDefaultFirstButton;
        std::vector<int> keys;
        std::string clicked;
    };
    for (const Case& c : {Case{false, {}, "second"}, Case{false, {Qt::Key_Right}, "first"},
                          Case{true, {Qt::Key_Left}, "second"}, Case{true, {Qt::Key_Tab}, "second"},
                          Case{true, {Qt::Key_Right, Qt::Key_Tab}, "first"}, Case{true, {Qt::Key_Escape}, "first"},
                          Case{true, {Qt::Key_Backtab}, "first"}}) {
        log.clear();
        confirm(c.isDefaultFirstButton);
        ConfirmationView* view = queue.confirmationView();
        for (int key : c.keys) press(view, key);
        EXPECT_EQ(view->firstButton()->isDefault(), c.clicked == "first");
        EXPECT_EQ(view->secondButton()->isDefault(), c.clicked == "second");
        press(view, Qt::Key_Return);
        EXPECT_EQ(log, Log{c.clicked}) << c.keys.size() << " keys";
        EXPECT_EQ(queue.showingSheet(), nullptr);
    }
}

TEST_F(Dialogs, DevicePictureOpensThePropertySheetOnlyWhenConnectedAndNoDialogShows)
{
    struct Case {
        bool connected, showing, opens;
    };
    for (const Case& c : {Case{false, false, false}, Case{true, true, false}, Case{true, false, true}}) {
        ShowDeviceIconImageView picture(queue);
        picture.setDeviceName("QX-9");
        appDelegate.setDeviceConnected(c.connected);
        appDelegate.setIsShowingDialog(c.showing);
        QMouseEvent down(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, {});
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, {}, {});
        QCoreApplication::sendEvent(&picture, &down);
        QCoreApplication::sendEvent(&picture, &up);
        ASSERT_EQ(queue.showingSheet() != nullptr, c.opens);
        if (!c.opens) continue;
        DevicePropertyViewController* sheet = picture.devicePropertyViewController();
        EXPECT_EQ(sheet->modelNameTextField()->text(), "QX-9");
        EXPECT_EQ(sheet->versionTextField()->text(), "");
        EXPECT_EQ(sheet->deviceModelLabel()->text(), "Device model");
        EXPECT_TRUE(sheet->okButton()->isDefault());
        sheet->okButton()->click();
        EXPECT_FALSE(appDelegate.isShowingDialog());
        EXPECT_EQ(queue.showingSheet(), nullptr);
    }
}

TEST_F(Dialogs, EachAlertAnswerRunsItsOwnActionThroughTheQueue)
{
    for (int answer : {DuplicatingFileNameAlert::kCancelReturn, DuplicatingFileNameAlert::kReplaceReturn,
                       DuplicatingFileNameAlert::kKeepBothReturn}) {
        log.clear();
        queue.showDialogWithInformation("first");
        auto* alert = new DuplicatingFileNameAlert("100% fuzz %@.qptc");
        alert->showAlertInWindow(nullptr, queue, [this] { log.push_back("keep both"); },
                                 [this] { log.push_back("replace"); }, [this] { log.push_back("cancel"); });
        EXPECT_EQ(queue.waitingActionCount(), 1u) << "the alert waits for the sheet before it";
        queue.informationView()->okButton()->click();
        ASSERT_EQ(queue.showingSheet(), alert);
        EXPECT_EQ(alert->text(), "An item named 100% fuzz %@.qptc already exists.");
        EXPECT_TRUE(appDelegate.isShowingDialog());
        alert->buttonWithReturnCode(answer)->click();
        const char* expected[] = {"cancel", "replace", "keep both"};
        EXPECT_EQ(log, Log{expected[answer - DuplicatingFileNameAlert::kCancelReturn]});
        EXPECT_FALSE(appDelegate.isShowingDialog());
        EXPECT_FALSE(queue.isDoingBlockAction());
    }
    // A close the window manager sends anyway answers as Escape does: Cancel. The alert offers no close
    // button of its own.
    for (const bool byEscape : {true, false}) {
        log.clear();
        auto* alert = new DuplicatingFileNameAlert("b");
        alert->showAlertInWindow(nullptr, queue, [this] { log.push_back("keep both"); },
                                 [this] { log.push_back("replace"); }, [this] { log.push_back("cancel"); });
        ASSERT_EQ(queue.showingSheet(), alert);
        EXPECT_FALSE(alert->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        if (byEscape) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(alert, &escape);
        } else {
            alert->close();
        }
        EXPECT_EQ(log, Log{"cancel"}) << byEscape;
        EXPECT_FALSE(appDelegate.isShowingDialog()) << byEscape;
        EXPECT_EQ(queue.showingSheet(), nullptr) << byEscape;
    }
    auto* silent = new DuplicatingFileNameAlert("a");
    silent->showAlertInWindow(nullptr, queue, {}, {}, {});
    silent->buttonWithReturnCode(DuplicatingFileNameAlert::kReplaceReturn)->click();
    EXPECT_FALSE(appDelegate.isShowingDialog());
    EXPECT_EQ(queue.showingSheet(), nullptr);
}


TEST_F(Dialogs, OnlyALeftClickOnTheDevicePictureOpensItsSheet)
{
    ShowDeviceIconImageView picture(queue);
    appDelegate.setDeviceConnected(true);
    const auto click = [&](Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
        QMouseEvent down(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), button, button, modifiers);
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), button, {}, modifiers);
        QCoreApplication::sendEvent(&picture, &down);
        QCoreApplication::sendEvent(&picture, &up);
    };
    click(Qt::RightButton, {});
    click(Qt::MiddleButton, {});
    click(Qt::LeftButton, Qt::MetaModifier);  // a Control-click: a right click
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_EQ(queue.waitingActionCount(), 0u);
    click(Qt::LeftButton, {});
    ASSERT_NE(queue.showingSheet(), nullptr);
    picture.devicePropertyViewController()->okButton()->click();
    EXPECT_EQ(queue.showingSheet(), nullptr);
}

TEST_F(Dialogs, ReturnInTheNameTakenAlertAnswersCancel)
{
    auto* alert = new DuplicatingFileNameAlert("taken.qptc");
    alert->showAlertInWindow(nullptr, queue, [this] { log.push_back("keep both"); }, [this] { log.push_back("replace"); },
                             [this] { log.push_back("cancel"); }, [this] { log.push_back("unanswered"); });
    ASSERT_EQ(queue.showingSheet(), alert);
    EXPECT_EQ(alert->defaultButton(), alert->buttonWithReturnCode(DuplicatingFileNameAlert::kCancelReturn));
    press(alert, Qt::Key_Return);
    EXPECT_EQ(log, Log{"cancel"});
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

// An unplugged unit, a second one or Quit clears the dialogs: a name-taken alert let go that way, waiting
// or showing, is answered Cancel and says what was not done, once; an answered one says nothing more.
TEST_F(Dialogs, ANameTakenAlertTheQueueLetsGoIsAnsweredCancelAndSaysSo)
{
    const auto ask = [this](const char* name) {
        auto* alert = new DuplicatingFileNameAlert(name);
        alert->showAlertInWindow(
            nullptr, queue, [this] { log.push_back("keep both"); }, [this] { log.push_back("replace"); },
            [this, name] { log.push_back(std::string("cancel ") + name); },
            [this, name] {
                log.push_back(std::string("unanswered ") + name);
                queue.showDialogWithInformation(QStringLiteral("%1 was not copied").arg(QString::fromLatin1(name)));
            });
        return QPointer<DuplicatingFileNameAlert>(alert);
    };
    confirm(true);
    const auto waiting = ask("waiting.qptc");
    EXPECT_EQ(queue.waitingActionCount(), 1u);
    queue.clearAllDialog();
    EXPECT_EQ(log, (Log{"cancel waiting.qptc", "unanswered waiting.qptc"}));
    EXPECT_EQ(shownInformation(), "waiting.qptc was not copied");
    EXPECT_TRUE(appDelegate.isShowingDialog());
    queue.informationView()->okButton()->click();
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(appDelegate.isShowingDialog());

    log.clear();
    const auto showing = ask("showing.qptc");
    ASSERT_EQ(queue.showingSheet(), showing.data());
    queue.clearAllDialog();
    EXPECT_EQ(log, (Log{"cancel showing.qptc", "unanswered showing.qptc"}));
    EXPECT_FALSE(showing && showing->isVisible());
    EXPECT_EQ(shownInformation(), "showing.qptc was not copied");
    queue.informationView()->okButton()->click();

    log.clear();
    const auto answered = ask("answered.qptc");
    answered->buttonWithReturnCode(DuplicatingFileNameAlert::kReplaceReturn)->click();
    queue.clearAllDialog();
    EXPECT_EQ(log, Log{"replace"});
    EXPECT_EQ(queue.showingSheet(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(waiting) << "every alert goes once it is done with";
    EXPECT_FALSE(showing);
    EXPECT_FALSE(answered);
}
}  // namespace
