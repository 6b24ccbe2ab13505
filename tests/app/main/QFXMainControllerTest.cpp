#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "app/controls/AutoClosePopover.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/EffectPoolPanel.h"
#include "app/effect/EffectUpdateView.h"
#include "app/main/QueueMainDialogs.h"
#include "app/shell/FlashWindowController.h"
#include "app/views/ApplicationVersionView.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"
#include "library/models/PatchItem.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/Localizer.h"
#include "support/app/Events.h"
#include "support/app/MainControllerRig.h"
#include "../effect/EffectScreenFakes.h"

namespace {

using effect_test::effect;

class QFXMainControllerTest : public testing_app::MainControllerRig {
protected:
    long closes() const { return std::count(log.begin(), log.end(), "closeApp"); }
    static void ctrlQ(QWidget* to) { testing_app::key(to, Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11")); }
    QString busy() const { return controller.deviceWorkLabel()->accessibleName(); }
    static QString quitAfterSheet() { return InterfaceTexts::localizedString("Main_BusyQuitAfterSheet"); }
};

TEST_F(QFXMainControllerTest, MenusFollowTheConnectionAndTheWindowNeverClosesByItself)
{
    EXPECT_EQ(coordinator.delegate, static_cast<CommonUtilsDelegate*>(&controller));
    EXPECT_TRUE(controller.menuAction(Action::InformUpdatingApplication)->isChecked());
    EXPECT_TRUE(controller.checkConnectionStatusTimer().isActive());
    const auto items = [this] {
        return std::tuple(enabled(Action::ConnectDevice), enabled(Action::DisconnectDevice), enabled(Action::DeviceInformation));
    };
    EXPECT_EQ(items(), std::tuple(true, false, false));
    EXPECT_FALSE(enabled(Action::Manual)) << "no guide installed here";
    controller.deviceConnectWithState(1);
    EXPECT_EQ(items(), std::tuple(false, true, true));
    controller.deviceDisonnect();
    EXPECT_EQ(items(), std::tuple(true, false, false));
    // The lost-connection sheet is up: Quit stays offered, to end the program once it is answered.
    settle();
    EXPECT_TRUE(enabled(Action::Quit));
    dialogQueue.clearAllDialog();
    window.show();
    log.clear();
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(log, (testing_app::CallLog{"closeApp"}));
}

// A sheet takes no Quit and no window close of its own: the Quit waits for its answer.
TEST_F(QFXMainControllerTest, ASheetIsAnsweredBeforeTheProgramQuits)
{
    window.show();
    controller.deviceDisonnect();
    settle();
    QPointer<DialogWindow> sheet = appDelegate.getPreviousDialogWindow();
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_FALSE(sheet->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    log.clear();
    const auto actions = sheet->actions();
    EXPECT_TRUE(std::none_of(actions.begin(), actions.end(), [](QAction* action) {
        return action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q);
    }));
    ctrlQ(sheet);
    testing_app::key(sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet->close());
    window.close();
    settle();
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_TRUE(appDelegate.isShowingDialog() && window.isVisible());
    EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
    EXPECT_TRUE(busy() == quitAfterSheet() && controller.deviceWorkLabel()->isVisible());
    dialogQueue.informationView()->okButton()->click();
    settle();
    EXPECT_FALSE(appDelegate.isShowingDialog());
    EXPECT_EQ(closes(), 1) << testing::PrintToString(log);
}

// A popover takes the keys while it shows: Ctrl+Q must not be lost to it.
TEST_F(QFXMainControllerTest, CtrlQQuitsFromTheWindowAndFromAPopoverOverIt)
{
    window.show();
    settle();
    QWidget* targets[] = {&window, new AutoClosePopover(&window)};
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->metaObject()->className());
        target->show();
        settle();
        log.clear();
        ctrlQ(target->focusWidget() ? target->focusWidget() : target);
        settle();
        EXPECT_EQ(closes(), 1) << testing::PrintToString(log);
        EXPECT_TRUE(target == &window || !target->isVisible()) << "the popover closes";
        controller.deviceDisonnect();
        dialogQueue.clearAllDialog();
    }
    delete targets[1];
}

// Ctrl+Q in a sheet's text field is neither typed there nor lost, and waits for every sheet queued behind.
TEST_F(QFXMainControllerTest, AQuitKeptOnASheetWaitsForTheSheetsQueuedBehindIt)
{
    // Quit's key is Ctrl+Q whatever the desktop's theme binds (the offscreen one binds none).
    EXPECT_EQ(controller.menuAction(Action::Quit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    window.show();
    settle();
    QPointer<QLineEdit> field;
    QPointer<QWidget> form;
    dialogQueue.addBlockActionQueue([&]() -> QDialog* {
        form = new QWidget;
        field = new QLineEdit(QStringLiteral("Name"), form);
        return dialogQueue.sheetWindowWithView(form);
    });
    dialogQueue.showDialogWithInformation(QStringLiteral("Behind"));
    settle();
    ASSERT_TRUE(field && field->isVisible());
    field->setFocus();
    log.clear();
    ctrlQ(field);
    EXPECT_EQ(field->text(), QStringLiteral("Name"));
    EXPECT_EQ(busy(), quitAfterSheet());
    dialogQueue.closeSheetOf(form);
    settle();
    EXPECT_TRUE(appDelegate.isShowingDialog()) << "the message behind opens";
    EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
    // The unit unplugged meanwhile takes the message down and says it is gone: that is read first too.
    controller.deviceDisonnect();
    settle();
    EXPECT_TRUE(appDelegate.isShowingDialog()) << "the lost unit is told";
    EXPECT_EQ(closes(), 0) << testing::PrintToString(log);
    EXPECT_TRUE(busy().contains(quitAfterSheet()));
    ASSERT_NE(dialogQueue.informationView(), nullptr);
    dialogQueue.informationView()->okButton()->click();
    settle();
    EXPECT_EQ(closes(), 1) << testing::PrintToString(log);
}

// The option items by the names the menu's wiring uses; only the shown screen sits in the window.
TEST_F(QFXMainControllerTest, TheOptionItemsShowWhatTheirHandlersSetAndTheFileKeepsIt)
{
    const auto checks = [this] {
        return std::pair(controller.appUpdateMenuItem()->isChecked(), controller.deviceUpdateMenuItem()->isChecked());
    };
    EXPECT_EQ(checks(), std::pair(true, true));
    controller.didClickInformUpdatingDeviceMenu();
    EXPECT_EQ(checks(), std::pair(true, false));
    controller.appUpdateMenuItem()->trigger();
    EXPECT_EQ(checks(), std::pair(false, false));
    controller.didClickInformUpdatingApplicationMenu();
    controller.setUpControlMenuState();
    EXPECT_EQ(checks(), std::pair(true, false));
    controller.didClickOnLicense();
    ASSERT_NE(controller.appLicenseWindow(), nullptr);
    controller.appLicenseWindow()->close();
    controller.patchManagerButtonClicked();
    EXPECT_NE(controller.patchManager().view()->parentWidget(), nullptr);
    EXPECT_EQ(controller.effectManager().view()->parentWidget(), nullptr);
    controller.didClickVersionMenu();
    QWidget* first = controller.appVersionWindow();
    controller.menuAction(Action::Version)->trigger();
    ASSERT_TRUE(first != nullptr && controller.appVersionWindow() == first);
    first->close();
}

TEST_F(QFXMainControllerTest, TheEndAfterATerminatingReportComesThoughSheetsWait)
{
    window.show();
    controller.internetNoConnect();
    dialogQueue.showDialogWithInformation(QStringLiteral("second"));
    settle();
    ASSERT_NE(dialogQueue.showingSheet(), nullptr);
    const auto buttons = dialogQueue.showingSheet()->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    // OK on the report: the sheet behind it comes up, and the end comes all the same.
    QTimer::singleShot(0, buttons.front(), &QPushButton::click);
    // Only a guard against a hang: the loop ends long before.
    QTimer::singleShot(std::chrono::seconds(30), [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(dialogQueue.showingSheet() == nullptr && dialogQueue.waitingActionCount() == 0u);
    window.hide();
}

TEST_F(QFXMainControllerTest, TheMemoryFigureAndItsUnitAreOneSpaceApart)
{
    window.show();
    controller.deviceConnectWithState(1);
    controller.didGetDeviceMemory(31.0F);
    settle();
    const QLabel* figure = controller.memoryCurrentPercentLabel();
    const QLabel* unit = controller.memoryUnitDesctiptionLabel();
    ASSERT_TRUE(figure->isVisible() && unit->isVisible());
    EXPECT_EQ(figure->text() + QLatin1Char(' ') + unit->text(), QStringLiteral("31 % used"));
    const QFontMetrics metrics = figure->fontMetrics();
    const int figureEnd = figure->x() + figure->contentsRect().left() + metrics.horizontalAdvance(figure->text());
    const int unitStart = unit->x() + unit->contentsRect().left();
    EXPECT_NEAR(unitStart - figureEnd, metrics.horizontalAdvance(QLatin1Char(' ')), 1);
    window.hide();
}

TEST(InformationWindows, TakeTheirContentsSizeWideEnoughForTheTitleAndWithinTheScreen)
{
    const QRect screen(0, 0, 1366, 768);
    // A one-line version view under a longer title widens to the title and its buttons.
    EXPECT_EQ(QFXMainController::infoWindowSize(QSize(211, 74), 190, screen), QSize(350, 74));
    EXPECT_EQ(QFXMainController::infoWindowSize(QSize(760, 520), 120, screen), QSize(760, 520));
    // A licence taller than the screen stops short of it and scrolls.
    EXPECT_EQ(QFXMainController::infoWindowSize(QSize(1400, 900), 120, screen), QSize(1286, 688));
}

// Counted before the patches are read, every count would read 0.
TEST_F(QFXMainControllerTest, UseCountsComeWithThePatchListAndSurviveAnUpdate)
{
    using effect_test::patchUsing;
    auto echo = effect("Echo", 7);
    controller.deviceConnectWithState(1);
    controller.effectListFromDevice({echo});
    const QModelIndex index = controller.effectManager().view()->findChild<QAbstractItemView*>(
        QStringLiteral("EffectTable"))->model()->index(0, EffectListModel::columnOfIdentifier("UsedTimes"));
    const auto used = [&index] { return index.data().toString().toStdString(); };
    settle();
    EXPECT_EQ(used(), "-") << "the patches are still being read";
    controller.patchListFromDevice({patchUsing({7}), patchUsing({7}), patchUsing({3})}, {"A", "B", "C"});
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return used() != "-"; }));
    EXPECT_EQ(used(), "2");
    auto newer = std::make_shared<EffectItem>(*echo);
    newer->effectUsedTimes = 0;
    newer->effectVersion = "2.0";
    controller.effectItem(newer, "1.0");
    EXPECT_EQ(used(), "2");
}

// Run in English and again under a Japanese locale (see CMakeLists.txt).
TEST_F(QFXMainControllerTest, EveryTextOfTheChromeAndTheMenusComesFromTheLanguagesTable)
{
    const std::string language = platform::Localizer::languageFromEnvironment();
    const auto table = platform::Bundle::main().table("Localizable", language);
    ASSERT_TRUE(table.has_value());
    std::set<QString> values;
    for (const auto& entry : table->entries()) values.insert(QString::fromStdString(entry.second));
    std::vector<QString> shown;
    for (QMenu* menu : controller.view()->findChildren<QMenuBar*>().front()->findChildren<QMenu*>()) {
        shown.push_back(menu->title());
        for (QAction* item : menu->actions())
            if (!item->isSeparator()) shown.push_back(item->text());
    }
    shown.insert(shown.end(), {controller.ejectButton()->text(), controller.memoryUnitDesctiptionLabel()->text(),
                               controller.deviceSyncIcon()->toolTip(), controller.serverSyncIcon()->toolTip()});
    EffectUpdateView notice;
    // Its title; the count line is a format the table fills.
    for (QLabel* label : notice.findChildren<QLabel*>())
        if (!label->text().isEmpty() && !label->text().contains(QRegularExpression(QStringLiteral("\\d"))))
            shown.push_back(label->text());
    ASSERT_GT(shown.size(), 15u);
    for (const QString& text : shown) EXPECT_TRUE(values.count(text)) << language << ": " << text.toStdString();
    // The version lines of the notice and of the effect pool's panel: a label of the table and the numbers.
    auto drive = effect("Drive", 1);
    drive->effectVersion = "1.02";
    const std::string versionWord = table->entries().at("Effect_Version");
    // Help > Version and the splash: the table's own "System Version" line.
    std::string programVersion = table->entries().at("Main_SystemVersion");
    programVersion.replace(programVersion.find("%@"), 2, "1.4.2");
    FlashWindowController splash;
    splash.setVersion("1.4.2");
    const std::vector<std::pair<std::string, std::string>> versionLines = {
        {EffectUpdateView::versionText({drive, "1.01"}).toStdString(), versionWord + ":   1.01 \u2192 1.02"},
        {EffectPoolPanel::forSelection({effect_test::leaf(drive)}, false, false, {}).version, versionWord + ": 1.02"},
        {ApplicationVersionView::versionText(std::string("1.4.2")).toStdString(), programVersion},
        {splash.versionText()->text().toStdString(), programVersion},
    };
    for (const auto& [line, expected] : versionLines) {
        EXPECT_EQ(line, expected) << language;
        shown.push_back(QString::fromStdString(line));
    }
    if (language != "ja") return;
    // Japanese throughout: no Latin word is left, bar a menu's mnemonic "(&C)".
    const QRegularExpression latinWord(QStringLiteral("[A-Za-z]{2,}"));
    for (const QString& text : shown) EXPECT_FALSE(latinWord.match(text).hasMatch()) << text.toStdString();
}

TEST_F(QFXMainControllerTest, TheEjectButtonShowsWhenItCanActAndWhenItsEjectWaits)
{
    QPushButton* eject = controller.ejectButton();
    const QString title = eject->text();
    const auto darkestInk = [eject] {
        const QImage shot = eject->grab().toImage();
        int darkest = 255;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                // A flat face lets the header through: only what the button paints counts.
                const QColor pixel = shot.pixelColor(x, y);
                if (pixel.alpha() == 255) darkest = std::min(darkest, pixel.lightness());
            }
        return darkest;
    };
    // Whether the button and the Disconnect item act.
    const auto acting = [&] { return std::pair(eject->isEnabled(), enabled(Action::DisconnectDevice)); };
    EXPECT_EQ(acting(), std::pair(false, false));
    const int disabledInk = darkestInk();
    controller.deviceConnectWithState(1);
    EXPECT_EQ(acting(), std::pair(true, true));
    EXPECT_GT(disabledInk - darkestInk(), 60);
    eject->click();
    EXPECT_EQ(acting(), std::pair(false, false));
    EXPECT_TRUE(eject->text() == QueueMainDialogs::textOf("Main_EjectWaiting") && eject->text() != title);
    // It waits greyed, as a disabled button, not in the ink of one that acts.
    EXPECT_LT(disabledInk - darkestInk(), 20);
    controller.ejectDeviceWithState(0);
    EXPECT_TRUE(eject->text() == title && eject->isEnabled());
    eject->click();
    EXPECT_FALSE(eject->isEnabled());
    controller.ejectDeviceWithState(1);
    EXPECT_TRUE(eject->text() == title && !eject->isEnabled());
    dialogQueue.clearAllDialog();
}

// Run in Japanese too: a break falls after a full stop, never between two letters of a word.
TEST_F(QFXMainControllerTest, TheLongestBusyLineShowsWholeBesideTheEjectButton)
{
    window.show();
    // No line: the tabs keep together at the left and Eject keeps its own size at the right.
    window.resize(1280, window.height());
    settle();
    ASSERT_FALSE(controller.deviceWorkLabel()->isVisible());
    EXPECT_LE(controller.patchManagerButton()->x() - controller.effectManagerButton()->geometry().right(), 24);
    EXPECT_EQ(controller.ejectButton()->width(), controller.ejectButton()->sizeHint().width());
    controller.deviceConnectWithState(1);
    controller.deviceWorkDidStart(CommonUtilsDelegate::DeviceWork::WritingPatches);
    controller.deviceWorkProgress(55, 100);
    controller.ejectDevice();
    controller.poolCopiesProgress(640, 10000);
    const QLabel* line = controller.deviceWorkLabel();
    const QPushButton* eject = controller.ejectButton();
    const auto inWord = [](QChar c) {
        const QChar::Script script = c.script();
        return script == QChar::Script_Han || script == QChar::Script_Hiragana || script == QChar::Script_Katakana;
    };
    // Wide, the line is one line; narrow, it breaks, and still shows whole.
    for (const int width : {1280, 760}) {
        SCOPED_TRACE(width);
        window.resize(width, window.height());
        settle();
        ASSERT_TRUE(line->isVisible());
        const QString text = line->text();
        ASSERT_TRUE(text.contains(QStringLiteral("640")));
        EXPECT_LE(line->geometry().right(), eject->geometry().left());
        // No room beside the tabs is left empty.
        EXPECT_LE(line->geometry().left(), controller.patchManagerButton()->geometry().right() + 24);
        const QRect room = line->contentsRect();
        const QRect needed = line->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000), 0, text);
        EXPECT_LE(needed.height(), room.height()) << text.toStdString();
        for (const QString& each : text.split(u'\n'))
            EXPECT_LE(line->fontMetrics().horizontalAdvance(each), room.width()) << each.toStdString();
        EXPECT_EQ(text.contains(u'\n'), width != 1280) << text.toStdString();
        for (qsizetype at = text.indexOf(u'\n'); at > 0 && at + 1 < text.size(); at = text.indexOf(u'\n', at + 1))
            EXPECT_FALSE(inWord(text.at(at - 1)) && inWord(text.at(at + 1))) << text.toStdString();
    }
    dialogQueue.clearAllDialog();
    window.hide();
}

TEST_F(QFXMainControllerTest, OnScreenThroughAConnectionAndItsEnd)
{
    if (!testing_app::hasDisplay()) GTEST_SKIP() << "no X display";
    const char* directory = std::getenv("RIG_SCREENSHOT_DIR");
    const auto shoot = [&](const char* name) {
        settle();
        // The whole screen, so a sheet over the window shows too.
        if (directory) QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromUtf8(directory) + "/" + name + ".png");
    };
    window.placeOnScreen();
    window.show();
    controller.didDoSynchronizationActionServer("sync");
    shoot("main-start");
    auto echo = effect("Echo", 7);
    controller.serverDirectoryObject({effect_test::groupNode("Rig One", {effect_test::leaf(echo)})});
    controller.didFinishSynchronizationActionServer("sync");
    controller.patchPoolDirectoryObject({});
    controller.deviceConnectWithState(1);
    controller.didGetDeviceName("Rig One");
    controller.didGetDeviceMemory(42.5F);
    controller.effectListFromDevice({echo});
    auto first = std::make_shared<PatchItem>();
    first->patchName = "Clean";
    controller.patchListFromDevice({first}, {"A"});
    controller.didDoSynchronizationActionDevice(std::nullopt);
    shoot("main-connected-effects");
    EXPECT_FALSE(controller.deviceSyncIcon()->isHidden());
    controller.didFinishSynchronizationActionDevice(std::nullopt);
    controller.patchManagerButtonClicked();
    shoot("main-connected-patches");
    controller.ejectDeviceWithState(1);
    shoot("main-ejected");
    EXPECT_EQ(controller.appTittle()->text(), "PEXO Rigmora");
    controller.deviceConnectWithState(1);
    controller.deviceDisonnect();
    shoot("main-unplugged");
    EXPECT_NE(dialogQueue.showingSheet(), nullptr);
    dialogQueue.clearAllDialog();
}

}  // namespace
