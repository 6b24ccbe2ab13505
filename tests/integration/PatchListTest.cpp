// The device list end to end: the unit's patches read into the list, names and comments edited in place
// and held by the unit.

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>

#include <algorithm>
#include <csignal>
#include <functional>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "ListEditors.h"
#include "MenuTour.h"
#include "UndoTour.h"
#include "ProgramRig.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "WindowGestures.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/AutoClosePopover.h"

using namespace std::chrono_literals;
using Gestures = WindowGestures;

namespace {

// Types a row's comment over in place and leaves the editor for the list, which commits it.
void editComment(QWidget& window, int row, const QString& text)
{
    Gestures::doubleClickPatchList(window, row, 2);
    ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
    Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
    Gestures::type(text);
    Gestures::patchList(window)->setFocus();
}

// The list row's property sheet, opened from its menu; none when it does not show.
PatchPropertyViewController* openedPatchSheet(QWidget& window)
{
    if (!ProgramRig::waitUntil([&] {
            MenuTour::openPatchSheet(window);
            return MenuTour::patchSheetShown();
        }, 10s))
        return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* found = top->findChild<PatchPropertyViewController*>(); found && found->isVisible()) return found;
    return nullptr;
}

}  // namespace

// Escape in the sheet's field leaves as Cancel does: the sheet goes, the typed name reaches neither the list
// nor the unit.
TEST(PatchList, EscapeInThePropertySheetLeavesItWithNothingSaved)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        const std::optional<std::string> before = unit.patchNameAt(MenuTour::kListRow);
        const QString shownBefore = Gestures::patchListText(MenuTour::kListRow, 1);
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        sheet->patchNameTextField()->setFocus();
        sheet->patchNameTextField()->selectAll();
        for (const QChar ch : QStringLiteral("Not kept")) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(sheet->focusWidget(), &press);
        }
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(sheet->focusWidget(), &escape);
        EXPECT_TRUE(ProgramRig::waitUntil([] { return !MenuTour::patchSheetShown(); }, 5s));
        EXPECT_EQ(unit.patchNameAt(MenuTour::kListRow), before);
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 1), shownBefore);
    });
}

TEST(PatchList, ReadIntoTheListThenANameAndACommentEditedInPlaceReachTheUnit)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        for (int slot = 0; slot < unit.patchCount(); ++slot) {
            EXPECT_EQ(Gestures::patchListText(slot, 1).toStdString(), unit.patchNameAt(slot).value_or("?")) << slot;
            EXPECT_EQ(Gestures::patchListText(slot, 2).toStdString(), unit.patchCommentAt(slot).value_or("?")) << slot;
        }

        QWidget& window = rig.window();
        window.activateWindow();
        Gestures::doubleClickPatchList(window, 1, 1);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("New Name"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "New Name"; }));
        EXPECT_EQ(Gestures::patchListText(1, 1), QStringLiteral("New Name"));

        editComment(window, 2, QStringLiteral("Another comment"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(2) == "Another comment"; }));
        EXPECT_EQ(Gestures::patchListText(2, 2), QStringLiteral("Another comment"));
        // The neighbours are untouched.
        EXPECT_EQ(unit.patchNameAt(0), Gestures::patchListText(0, 1).toStdString());
        EXPECT_EQ(unit.patchNameAt(3), Gestures::patchListText(3, 1).toStdString());
    });
}

TEST(PatchList, ANameAndCommentSavedFromThePropertySheetReachTheUnit)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        // The name typed over, a key at a time, through the name rule.
        sheet->patchNameTextField()->setFocus();
        sheet->patchNameTextField()->selectAll();
        for (const QChar ch : QStringLiteral("Sheet Name")) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(sheet->patchNameTextField(), &press);
        }
        // The comment typed over likewise, through the comment rule.
        const std::string commentBefore = unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        ASSERT_NE(commentBefore, "Sheet comment");
        sheet->patchCommentTextView()->setFocus();
        sheet->patchCommentTextView()->selectAll();
        for (const QChar ch : QStringLiteral("Sheet comment")) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(sheet->patchCommentTextView(), &press);
        }
        ASSERT_EQ(sheet->patchCommentTextView()->toPlainText(), QStringLiteral("Sheet comment"));
        ASSERT_TRUE(sheet->saveButton()->isEnabled());
        sheet->saveButton()->click();
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            return unit.patchNameAt(MenuTour::kListRow) == "Sheet Name" &&
                   unit.patchCommentAt(MenuTour::kListRow) == "Sheet comment";
        })) << unit.patchNameAt(MenuTour::kListRow).value_or("?") << " / "
            << unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 1), QStringLiteral("Sheet Name"));
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 2), QStringLiteral("Sheet comment"));
        EXPECT_FALSE(MenuTour::patchSheetShown());
    });
}

// Typed as a person types: the name, Tab to the comment, the comment, Tab on to the buttons, Return. Tab
// in a field takes the typing to the next field, past the last one to the buttons, and leaves Save the
// sheet's answer to Return.
TEST(PatchList, TabFromTheSheetsNameToItsCommentAndReturnThereSavesBoth)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        // Each key to the field that has the typing, as the platform sends it.
        const auto press = [sheet](int code, const QString& text) {
            QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
            QApplication::sendEvent(sheet->focusWidget(), &event);
        };
        sheet->patchNameTextField()->setFocus();
        sheet->patchNameTextField()->selectAll();
        for (const QChar ch : QStringLiteral("Tab Name")) press(0, QString(ch));
        press(Qt::Key_Tab, QStringLiteral("\t"));
        ASSERT_EQ(sheet->focusWidget(), sheet->patchCommentTextView());
        sheet->patchCommentTextView()->selectAll();
        for (const QChar ch : QStringLiteral("Tabbed comment")) press(0, QString(ch));
        // On to the buttons; Return there answers Save (in the comment it would start a new line).
        press(Qt::Key_Tab, QStringLiteral("\t"));
        ASSERT_EQ(sheet->focusWidget(), sheet);
        press(Qt::Key_Return, QStringLiteral("\r"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            return unit.patchNameAt(MenuTour::kListRow) == "Tab Name" &&
                   unit.patchCommentAt(MenuTour::kListRow) == "Tabbed comment";
        })) << unit.patchNameAt(MenuTour::kListRow).value_or("?") << " / "
            << unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        EXPECT_FALSE(MenuTour::patchSheetShown());
    });
}

TEST(PatchList, TextFromAnInputMethodOrTheClipboardReachesTheUnitOnlyAsTheRulesTakeIt)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        const std::string comment = unit.patchCommentAt(4).value_or("?");

        // Kana committed by an input method go in as Latin letters; an emoji goes nowhere.
        Gestures::doubleClickPatchList(window, 3, 1);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        for (const char* committed : {"\xF0\x9F\x8E\xB8", "\xE3\x81\x8B\xE3\x81\x8D"}) {
            QInputMethodEvent event;
            event.setCommitString(QString::fromUtf8(committed));
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "kaki"; }));
        EXPECT_EQ(Gestures::patchListText(3, 1), QStringLiteral("kaki"));

        // A pasted megabyte never reaches the comment, the list or the unit.
        Gestures::doubleClickPatchList(window, 4, 2);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        auto* editor = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
        QApplication::clipboard()->setText(QString(1 << 20, QLatin1Char('m')));
        Gestures::type({}, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(editor->toPlainText().toStdString(), comment);
        Gestures::patchList(window)->setFocus();
        // A comment edited after it reaches the unit behind anything the refused paste might have queued.
        editComment(window, 5, QStringLiteral("After the paste"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(5) == "After the paste"; }));
        EXPECT_EQ(unit.patchCommentAt(4), comment);
        EXPECT_EQ(Gestures::patchListText(4, 2).toStdString(), comment);
    });
}

// Text the program cannot decode shows empty: a comment in Latin-1 (the interface is in English) or a
// name that is not UTF-8. Editing the other field in the list keeps those bytes on the unit.
TEST(PatchList, AnEditOfOneFieldKeepsTheOtherOnTheUnitThoughItDoesNotDecode)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        const std::string latin1Comment = "caf\xE9 cr\xE8me";
        const std::string latin1Name = "\xC9t\xE9";
        unit.editOnUnit(1, "Latin", latin1Comment);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return Gestures::patchListText(1, 1) == QStringLiteral("Latin"); }));
        EXPECT_EQ(Gestures::patchListText(1, 2), QString());
        unit.editOnUnit(2, latin1Name, "Readable");
        ASSERT_TRUE(ProgramRig::waitUntil([] { return Gestures::patchListText(2, 2) == QStringLiteral("Readable"); }));
        EXPECT_EQ(Gestures::patchListText(2, 1), QString());

        Gestures::doubleClickPatchList(window, 1, 1);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Renamed"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "Renamed"; }));
        EXPECT_EQ(unit.patchCommentAt(1), latin1Comment);

        editComment(window, 2, QStringLiteral("Edited"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(2) == "Edited"; }));
        EXPECT_EQ(unit.patchNameAt(2), latin1Name);
    });
}

// A rename and a comment edit of a patch whose texts do not decode, each undone: the unit gets back the
// very bytes it held, never an empty name or comment.
TEST(PatchList, UndoingAnEditOfATextThatDidNotDecodePutsItsBytesBack)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        const std::string latin1Comment = "caf\xE9 cr\xE8me";
        const std::string latin1Name = "\xC9t\xE9";
        unit.editOnUnit(2, latin1Name, latin1Comment);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return Gestures::patchListText(2, 1).isEmpty(); }));

        Gestures::doubleClickPatchList(window, 2, 1);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Named"));
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(2) == "Named"; }));
        editComment(window, 2, QStringLiteral("Said"));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(2) == "Said"; }));

        for (const auto& [what, back] : {std::pair<const char*, std::function<bool()>>{
                                             "the comment", [&] { return unit.patchCommentAt(2) == latin1Comment; }},
                                         std::pair<const char*, std::function<bool()>>{
                                             "the name", [&] { return unit.patchNameAt(2) == latin1Name; }}}) {
            SCOPED_TRACE(what);
            ASSERT_TRUE(ProgramRig::waitUntil([&] {
                UndoTour::openUndoPopover(window);
                return UndoTour::undoPopoverShown();
            }));
            UndoTour::undoFromPopover(window);
            EXPECT_TRUE(ProgramRig::waitUntil(back, 20s))
                << unit.patchNameAt(2).value_or("?") << " / " << unit.patchCommentAt(2).value_or("?");
        }
        EXPECT_EQ(unit.patchNameAt(2), latin1Name);
        EXPECT_EQ(unit.patchCommentAt(2), latin1Comment);
    });
}

// A change made on the unit while the patch's property sheet is open, or before it opened within the
// quiet time, is not lost to the sheet's save: the unit ends with its own change and the sheet's comment.
TEST(PatchList, AChangeMadeOnTheUnitMeanwhileSurvivesThePropertySheetsSave)
{
    ProgramRig::Options options;
    // Far beyond the test: the list takes the change only from the sheet.
    options.quietSeconds = 600;
    ProgramRig rig(options);
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        ASSERT_NE(openedPatchSheet(window), nullptr);
        unit.editOnUnit(MenuTour::kListRow, "Knob", "From the unit");
        // Once the program has the unit's change (a save before it would replace it on the unit, as the
        // user's newer word), saved until the change has reached the screen and the unit holds both.
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            const auto names = ProgramRig::patchNamesIn(rig.root() / "Temp" / "Device" / "Patch");
            return std::find(names.begin(), names.end(), "Knob") != names.end();
        }));
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            if (!MenuTour::patchSheetShown()) {
                MenuTour::openPatchSheet(window);
                return false;
            }
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* sheet = top->findChild<PatchPropertyViewController*>();
                if (sheet == nullptr || !sheet->isVisible()) continue;
                sheet->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
                sheet->saveButton()->click();
                break;
            }
            return unit.patchNameAt(MenuTour::kListRow) == "Knob" && unit.patchCommentAt(MenuTour::kListRow) == "warmer";
        }, 20s)) << unit.patchNameAt(MenuTour::kListRow).value_or("?") << " / "
                 << unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 1), QStringLiteral("Knob"));
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 2), QStringLiteral("warmer"));
    });
}

// The sheet's save goes to the unit after the unit changed the patch but before its report reached the
// screen: the unit takes our older name over its change. The report then comes, and the next opening of
// the sheet takes it: the unit gets the merge (its name, the sheet's comment) though that sheet is cancelled.
TEST(PatchList, ASaveMadeBeforeTheUnitsReportReachedTheScreenLeavesTheUnitItsName)
{
    ProgramRig::Options options;
    // Far beyond the test: only the sheet takes the change.
    options.quietSeconds = 600;
    ProgramRig rig(options);
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        unit.editOnUnit(MenuTour::kListRow, "Knob", "From the unit");
        // The event loop stays still, so the report the program has made of the change waits for the
        // screen until the save is made.
        const auto until = std::chrono::steady_clock::now() + 30s;
        const auto reported = [&] {
            const auto names = ProgramRig::patchNamesIn(rig.root() / "Temp" / "Device" / "Patch");
            return std::find(names.begin(), names.end(), "Knob") != names.end();
        };
        while (!reported() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(reported());
        sheet->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
        sheet->saveButton()->click();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(MenuTour::kListRow) == "warmer"; }, 20s));

        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            if (!MenuTour::patchSheetShown()) {
                MenuTour::openPatchSheet(window);
                return false;
            }
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* shown = top->findChild<PatchPropertyViewController*>(); shown && shown->isVisible())
                    shown->cancelButton()->click();
            return unit.patchNameAt(MenuTour::kListRow) == "Knob" && unit.patchCommentAt(MenuTour::kListRow) == "warmer";
        }, 20s)) << unit.patchNameAt(MenuTour::kListRow).value_or("?") << " / "
                 << unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 1), QStringLiteral("Knob"));
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 2), QStringLiteral("warmer"));
    });
}

// The quiet time applies the unit's change under an open sheet whose keys are on its buttons: the sheet's
// save then writes only the text it changed, over the patch as the unit made it, never its own old copy.
TEST(PatchList, TheSheetsSaveKeepsAChangeTheQuietTimeAppliedWhileItWasOpen)
{
    ProgramRig::Options options;
    options.quietSeconds = 1;
    ProgramRig rig(options);
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        // Tab past the comment: the keys are on the sheet's buttons, and the quiet time applies the change.
        const auto press = [sheet](int code, const QString& text) {
            QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
            QApplication::sendEvent(sheet->focusWidget(), &event);
        };
        sheet->window()->activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return sheet->window()->isActiveWindow(); }, 5s));
        sheet->patchNameTextField()->setFocus();
        press(Qt::Key_Tab, QStringLiteral("\t"));
        press(Qt::Key_Tab, QStringLiteral("\t"));
        ASSERT_EQ(sheet->focusWidget(), sheet);
        ASSERT_EQ(QApplication::focusWidget(), sheet);
        unit.editOnUnit(MenuTour::kListRow, "Knob", "From the unit");
        ASSERT_TRUE(ProgramRig::waitUntil([] { return Gestures::patchListText(MenuTour::kListRow, 1) == QStringLiteral("Knob"); }, 20s));
        ASSERT_TRUE(MenuTour::patchSheetShown());
        sheet->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
        press(Qt::Key_Return, QStringLiteral("\r"));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(MenuTour::kListRow) == "warmer"; }, 20s))
            << unit.patchCommentAt(MenuTour::kListRow).value_or("?");
        EXPECT_EQ(unit.patchNameAt(MenuTour::kListRow), "Knob");
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 1), QStringLiteral("Knob"));
        EXPECT_EQ(Gestures::patchListText(MenuTour::kListRow, 2), QStringLiteral("warmer"));
    });
}

// A name typed in the list's cell while the unit's change waits for the quiet time goes over that change:
// the list and the unit end with the typed name and the unit's comment.
TEST(PatchList, ANameTypedInTheCellGoesOverTheUnitsWaitingChange)
{
    ProgramRig::Options options;
    // Far beyond the test: only the cell's commit takes the change.
    options.quietSeconds = 600;
    ProgramRig rig(options);
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        auto* pool = window.findChild<PatchPoolOutlineView*>();
        auto* screen = pool != nullptr ? dynamic_cast<PatchManagerViewController*>(pool->backUpDelegate()) : nullptr;
        ASSERT_NE(screen, nullptr);
        unit.editOnUnit(1, "Knob", "From the unit");
        // Once the screen holds the unit's change: its file on disk comes a step before the screen is told,
        // and a name typed in between is a name typed before the program knew of the change.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return screen->bufferedChangeCount() == 1; }, 10s));
        Gestures::doubleClickPatchList(window, 1, 1);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Typed"));
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "Typed"; }, 20s));
        EXPECT_EQ(unit.patchCommentAt(1), "From the unit");
        EXPECT_EQ(Gestures::patchListText(1, 1), QStringLiteral("Typed"));
        EXPECT_EQ(Gestures::patchListText(1, 2), QStringLiteral("From the unit"));
    });
}

namespace {

// Starts a rename of the list's `row` and types `text` over the name; the editor that has it.
QLineEdit* startRename(QWidget& window, int row, const QString& text)
{
    if (!list_editors::open<QLineEdit>(window, row, 1)) return nullptr;
    Gestures::type(text);
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
}

// F2 opens the current row's name again, as the keyboard does; whether its editor took the keys.
bool reopenWithF2(QWidget& window)
{
    QTableView* list = Gestures::patchList(window);
    list->setFocus();
    QKeyEvent f2(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(list, &f2);
    if (!ProgramRig::waitUntil([] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }, 5s))
        return false;
    // The user types once the field shows its name selected, which it does on its next turn.
    QCoreApplication::processEvents();
    return true;
}

using list_editors::backToTheWindow;

// The name editor the list shows, none when it shows none.
QLineEdit* shownNameEditor(QWidget& window) { return list_editors::shown<QLineEdit>(window); }

// Renames the list's `row` to `renamed`, then opens its name again with F2, which leaves the rename the
// last thing to undo; whether the editor took the keys.
bool renameThenOpenAgain(QWidget& window, DemoUnit& unit, int row, const QString& renamed)
{
    if (startRename(window, row, renamed) == nullptr) return false;
    Gestures::type({}, Qt::Key_Return);
    if (!ProgramRig::waitUntil([&] { return unit.patchNameAt(row) == renamed.toStdString(); })) return false;
    return reopenWithF2(window);
}

// Once an undo under the typing has put `name` back in the unit's `row`: the name editor the reloaded list
// opened again, the keys back in it; none when that does not come.
QLineEdit* editorBackAfterTheUndo(QWidget& window, DemoUnit& unit, int row, const std::string& name)
{
    if (!ProgramRig::waitUntil([&] { return unit.patchNameAt(row) == name; }, 10s)) return nullptr;
    if (!ProgramRig::waitUntil([&] { return shownNameEditor(window) != nullptr; }, 5s)) return nullptr;
    QLineEdit* editor = shownNameEditor(window);
    backToTheWindow(window);
    if (!ProgramRig::waitUntil([&] { return QApplication::focusWidget() == editor; }, 5s)) return nullptr;
    return editor;
}

}  // namespace

// The user looks a name up in another program half-way through typing it: nothing reaches the unit, and
// the typing goes on when the window has the keys back.
TEST(PatchList, AnotherWindowTakingTheKeysNeitherCommitsNorClosesARename)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        const std::string before = unit.patchNameAt(1).value_or("?");
        QLineEdit* editor = startRename(window, 1, QStringLiteral("Lea"));
        ASSERT_NE(editor, nullptr);
        {
            const auto browser = ProgramRig::anotherWindowTakesTheKeys();
            ASSERT_NE(browser, nullptr);
            ProgramRig::settle(300ms);
            EXPECT_EQ(unit.patchNameAt(1), before);
            EXPECT_EQ(Gestures::patchListText(1, 1).toStdString(), before);
        }
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_EQ(QApplication::focusWidget(), editor);
        EXPECT_EQ(editor->text(), QStringLiteral("Lea"));
        EXPECT_FALSE(editor->hasSelectedText()) << editor->selectedText().toStdString();
        Gestures::type(QStringLiteral("d"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "Lead"; }, 10s))
            << unit.patchNameAt(1).value_or("?") << " / " << Gestures::patchListText(1, 1).toStdString();
    });
}

// An undo from the popover reloads the list under a rename that stays open: the typing survives it and
// reaches the unit when the user ends it.
TEST(PatchList, ARenameBeingTypedOutlivesTheListsReload)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        const std::string first = unit.patchNameAt(3).value_or("?");
        ASSERT_TRUE(renameThenOpenAgain(window, unit, 3, QStringLiteral("Renamed")));
        Gestures::type(QStringLiteral("Lea"));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        // The name's editor is open again on the reloaded list, the typing in it; the popover goes, and
        // the keys come back to the window and the field.
        QLineEdit* editor = editorBackAfterTheUndo(window, unit, 3, first);
        ASSERT_NE(editor, nullptr) << unit.patchNameAt(3).value_or("?") << " / " << first;
        EXPECT_EQ(editor->text(), QStringLiteral("Lea"));
        EXPECT_FALSE(editor->hasSelectedText()) << editor->selectedText().toStdString();
        Gestures::type(QStringLiteral("d"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "Lead"; }));
        EXPECT_EQ(Gestures::patchListText(3, 1), QStringLiteral("Lead"));
    });
}

// A reload that changes the very name being edited (an undo of its earlier rename) leaves the editor
// open with the patch's name as it now is for its original: Escape brings that back and writes nothing,
// and an editor in which nothing was typed shows it and changes nothing when the user clicks away.
TEST(PatchList, AReloadThatChangedTheEditedNameIsWhatEscapeAndAnUntouchedEditorKeep)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        const std::string first = unit.patchNameAt(3).value_or("?");

        // Typed, undone under the typing, then Escape.
        ASSERT_TRUE(renameThenOpenAgain(window, unit, 3, QStringLiteral("Renamed")));
        Gestures::type(QStringLiteral("Lea"));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        QLineEdit* editor = editorBackAfterTheUndo(window, unit, 3, first);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), QStringLiteral("Lea"));
        Gestures::type({}, Qt::Key_Escape);
        EXPECT_EQ(Gestures::patchListText(3, 1).toStdString(), first);

        // Opened, nothing typed, undone under it, then a click beside it.
        ASSERT_TRUE(renameThenOpenAgain(window, unit, 3, QStringLiteral("Again")));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        editor = editorBackAfterTheUndo(window, unit, 3, first);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text().toStdString(), first);
        Gestures::patchList(window)->setFocus();
        EXPECT_EQ(Gestures::patchListText(3, 1).toStdString(), first);

        // A write queued after anything those two could have sent: once it lands, the unit holds the
        // name the undo left.
        ASSERT_NE(startRename(window, 4, QStringLiteral("Marker")), nullptr);
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(4) == "Marker"; }));
        EXPECT_EQ(unit.patchNameAt(3), first);
    });
}

// The list reloads twice while another window has the keys (the results of the unit's writes, a pool's
// copies landing): the rename goes on where the user left it, its selection with it, when the window has
// the keys back.
TEST(PatchList, TwoReloadsWhileAnotherWindowHasTheKeysKeepTheCursorAndSelection)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_NE(startRename(window, 1, QStringLiteral("Lead")), nullptr);
        // "e" selected, the cursor before it.
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left, Qt::ShiftModifier);
        {
            const auto browser = ProgramRig::anotherWindowTakesTheKeys();
            ASSERT_NE(browser, nullptr);
            auto* list = static_cast<CustomTableViewForPatch*>(Gestures::patchList(window));
            list->reloadData();
            list->reloadData();
        }
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return QApplication::focusWidget() == shownNameEditor(window); }, 5s));
        QLineEdit* editor = shownNameEditor(window);
        EXPECT_EQ(editor->selectedText(), QStringLiteral("e"));
        EXPECT_EQ(editor->cursorPosition(), 1);
        Gestures::type(QStringLiteral("x"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "Lxad"; }, 10s))
            << unit.patchNameAt(1).value_or("?") << " / " << Gestures::patchListText(1, 1).toStdString();
    });
}

// The same for a comment: its cursor is where the user left it after two reloads while away.
TEST(PatchList, TwoReloadsWhileAnotherWindowHasTheKeysKeepTheCommentsCursor)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        Gestures::doubleClickPatchList(window, 1, 2);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) != nullptr; }, 5s));
        auto* comment = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Warm"));
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left);
        {
            const auto browser = ProgramRig::anotherWindowTakesTheKeys();
            ASSERT_NE(browser, nullptr);
            auto* list = static_cast<CustomTableViewForPatch*>(Gestures::patchList(window));
            list->reloadData();
            list->reloadData();
        }
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            comment = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
            return comment != nullptr && comment->isVisible();
        }, 5s));
        EXPECT_EQ(comment->textCursor().position(), 2);
        Gestures::type(QStringLiteral("x"));
        Gestures::patchList(window)->setFocus();
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(1) == "Waxrm"; }, 10s))
            << unit.patchCommentAt(1).value_or("?");
    });
}

// Undo clicked with the pointer while a name is typed, in the popover under the panes and in the Control
// menu: neither takes the keys from the typing, so neither commits it; each undoes the edit before it, and
// the typing stays open where it was until the user ends it.
TEST(PatchList, AnUndoClickedWithThePointerUndoesTheEditBeforeTheTyping)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        const std::string first = unit.patchNameAt(3).value_or("?");
        ASSERT_TRUE(renameThenOpenAgain(window, unit, 3, QStringLiteral("Renamed")));
        Gestures::type(QStringLiteral("Second"));
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "Second"; }));

        ASSERT_TRUE(reopenWithF2(window));
        Gestures::type(QStringLiteral("Xy"));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        QLineEdit* editor = editorBackAfterTheUndo(window, unit, 3, "Renamed");
        ASSERT_NE(editor, nullptr) << unit.patchNameAt(3).value_or("?");
        EXPECT_EQ(editor->text(), QStringLiteral("Xy"));

        ASSERT_TRUE(Gestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Undo")));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == first; }, 10s)) << unit.patchNameAt(3).value_or("?");
        // A window manager activates the window again as the menu closes; the offscreen platform is asked.
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return QApplication::focusWidget() == shownNameEditor(window); }, 5s));
        editor = shownNameEditor(window);
        EXPECT_EQ(editor->text(), QStringLiteral("Xy"));
        EXPECT_FALSE(editor->hasSelectedText()) << editor->selectedText().toStdString();
        Gestures::type(QStringLiteral("z"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "Xyz"; }, 10s)) << unit.patchNameAt(3).value_or("?");
    });
}

namespace {

// Types a name into the list's second row, then lets the unit go with `disconnect`; the name the unit
// holds in that slot once it is let go.
std::optional<std::string> nameWrittenBeforeTheEject(ProgramRig& rig, const std::function<void(QWidget&)>& disconnect)
{
    DemoUnit& unit = rig.unit();
    if (!rig.showPatchScreen()) return std::nullopt;
    QWidget& window = rig.window();
    window.activateWindow();
    if (!ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s)) return std::nullopt;
    if (startRename(window, 1, QStringLiteral("Typed")) == nullptr) return std::nullopt;
    disconnect(window);
    if (!ProgramRig::waitUntil([&] { return Gestures::enabledAction(window, QStringLiteral("Connect")) != nullptr; }, 20s))
        return std::nullopt;
    return unit.patchNameAt(1);
}

}  // namespace

// Disconnect while a name is typed, from the Control menu or the Eject button: the name is written to the
// unit before it is let go, as Quit writes it.
TEST(PatchList, DisconnectFromTheMenuWhileANameIsTypedWritesItFirst)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        EXPECT_EQ(nameWrittenBeforeTheEject(rig, [](QWidget& window) {
            ASSERT_TRUE(Gestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Disconnect")));
        }), "Typed");
    });
}

TEST(PatchList, TheEjectButtonWhileANameIsTypedWritesItFirst)
{
    ProgramRig rig;
    rig.runToTheEnd([](ProgramRig& rig) {
        EXPECT_EQ(nameWrittenBeforeTheEject(rig, [](QWidget& window) { Gestures::clickButton(window, "ejectButton"); }),
                  "Typed");
    });
}

namespace {

// Types a name into the list's second row, gives another window the keys, and ends the program with
// `end`; the name the unit holds in that slot as the program lets it go.
std::optional<std::string> nameOnTheUnitAfterAnEndWhileAnotherWindowHasTheKeys(const std::function<void(ProgramRig&)>& end)
{
    ProgramRig rig;
    std::optional<std::string> atTheEnd;
    rig.atUnitEnd([&](DemoUnit& unit) { atTheEnd = unit.patchNameAt(1); });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_NE(startRename(window, 1, QStringLiteral("Ending")), nullptr);
        const auto browser = ProgramRig::anotherWindowTakesTheKeys();
        ASSERT_NE(browser, nullptr);
        end(rig);
    });
    return atTheEnd;
}

}  // namespace

// The window closed from a pager, or the session ending, while another program has the keys: the name
// being typed in the list is the user's last word, and the unit holds it when the program lets it go.
TEST(PatchList, ClosedFromAPagerWhileAnotherWindowHasTheKeysWritesTheTypedName)
{
    EXPECT_EQ(nameOnTheUnitAfterAnEndWhileAnotherWindowHasTheKeys([](ProgramRig& rig) { rig.closeWindow(); }), "Ending");
}

TEST(PatchList, TheSessionsEndWhileANameIsTypedWritesIt)
{
    EXPECT_EQ(nameOnTheUnitAfterAnEndWhileAnotherWindowHasTheKeys([](ProgramRig& rig) { rig.endBySignal(SIGTERM); }),
              "Ending");
}

// The same end at a MIDI cable's pace: the typed name's write is still on its way when the signal comes,
// and the unit is let go only behind it.
TEST(PatchList, TheSessionsEndAtACablesPaceWritesTheTypedNameBeforeTheUnitGoes)
{
    EXPECT_EQ(nameOnTheUnitAfterAnEndWhileAnotherWindowHasTheKeys([](ProgramRig& rig) {
                  // 3,125 bytes a second: a MIDI cable's rate.
                  rig.unit().unit().setPacing(3125.0, std::chrono::microseconds(0));
                  rig.endBySignal(SIGTERM);
              }),
              "Ending");
}

// The same close at a MIDI cable's pace: the close lets the typed name's write finish before the unit goes.
TEST(PatchList, ClosedFromAPagerAtACablesPaceWritesTheTypedNameBeforeTheUnitGoes)
{
    ProgramRig rig;
    std::optional<std::string> atTheEnd;
    rig.atUnitEnd([&](DemoUnit& unit) { atTheEnd = unit.patchNameAt(1); });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_NE(startRename(window, 1, QStringLiteral("Ending")), nullptr);
        const auto browser = ProgramRig::anotherWindowTakesTheKeys();
        ASSERT_NE(browser, nullptr);
        rig.unit().unit().setPacing(3125.0, std::chrono::microseconds(0));
        rig.closeWindow();
    });
    EXPECT_EQ(atTheEnd, "Ending");
}

// A name emptied as the program ends is refused by the rule as on any end of the typing: the unit keeps
// its name, and the end goes on.
TEST(PatchList, ANameEmptiedAsTheProgramEndsLeavesTheUnitsName)
{
    ProgramRig rig;
    std::optional<std::string> atTheEnd;
    std::optional<std::string> before;
    rig.atUnitEnd([&](DemoUnit& unit) { atTheEnd = unit.patchNameAt(1); });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        before = rig.unit().patchNameAt(1);
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_NE(startRename(window, 1, QStringLiteral("x")), nullptr);
        Gestures::type({}, Qt::Key_Backspace);
        const auto browser = ProgramRig::anotherWindowTakesTheKeys();
        ASSERT_NE(browser, nullptr);
        rig.closeWindow();
    });
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(atTheEnd, before);
}
