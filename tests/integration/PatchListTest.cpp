// The device list end to end: the unit's patches read into the list, names and comments edited in place
// and held by the unit.

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include <algorithm>
#include <array>
#include <csignal>
#include <functional>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "MenuTour.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickImageView.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPropertyViewController.h"

using namespace std::chrono_literals;
using Gestures = WindowGestures;

namespace {

// The editors the patch list opens in its cells, as the user opens and leaves them.
namespace list_editors {

// The `Editor` the list shows; none when it shows none.
template <typename Editor>
Editor* shown(QWidget& window)
{
    for (Editor* editor : WindowGestures::patchList(window)->findChildren<Editor*>())
        if (editor->isVisible()) return editor;
    return nullptr;
}

// Whether an `Editor` took the keys. The user types once the field shows its text selected, which it does
// on its next turn.
template <typename Editor>
bool tookTheKeys()
{
    if (!ProgramRig::waitUntil([] { return qobject_cast<Editor*>(QApplication::focusWidget()) != nullptr; }, 5s))
        return false;
    QCoreApplication::processEvents();
    return true;
}

// Opens the row's cell in `column` (1 the name, 2 the comment) for editing; whether its editor took the keys.
template <typename Editor>
bool open(QWidget& window, int row, int column)
{
    WindowGestures::doubleClickPatchList(window, row, column);
    return tookTheKeys<Editor>();
}

// Once an undo from the popover reloaded the list under an open editor: puts the popover away and gives the
// window the keys back, as the user does; the editor the reloaded list opened again, with the keys, or none.
template <typename Editor>
Editor* backAfterTheUndo(QWidget& window)
{
    if (!ProgramRig::waitUntil([&] { return shown<Editor>(window) != nullptr; }, 5s)) return nullptr;
    Editor* editor = shown<Editor>(window);
    if (auto* popover = RightClickImageView::getMenuPopover(); popover && popover->isVisible()) popover->hide();
    window.activateWindow();
    return ProgramRig::waitUntil([&] { return QApplication::focusWidget() == editor; }, 5s) ? editor : nullptr;
}

}  // namespace list_editors

constexpr int kRow = MenuTour::kListRow;

// Runs the program with `body` on the patch screen, the window having the keys; `quietSeconds` 0 leaves
// the shipped quiet time.
void onTheList(const std::function<void(ProgramRig&, DemoUnit&, QWidget&)>& body, int quietSeconds = 0)
{
    ProgramRig::onThePatchScreen(ProgramRig::Options{.quietSeconds = quietSeconds}, [&](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        ASSERT_TRUE(ProgramRig::focusWindow());
        body(rig, unit, window);
    });
}

// Starts a rename of the list's `row` and types `text` over the name; the editor that has it.
QLineEdit* startRename(QWidget& window, int row, const QString& text)
{
    if (!list_editors::open<QLineEdit>(window, row, 1)) return nullptr;
    Gestures::type(text);
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
}

// The same, committed with Return; whether the unit then holds it.
bool renameOnTheUnit(QWidget& window, DemoUnit& unit, int row, const QString& text)
{
    if (startRename(window, row, text) == nullptr) return false;
    Gestures::type({}, Qt::Key_Return);
    return ProgramRig::waitUntil([&] { return unit.patchNameAt(row) == text.toStdString(); });
}

// Types a row's comment over in place and leaves the editor for the list, which commits it.
void editComment(QWidget& window, int row, const QString& text)
{
    ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, row, 2));
    Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
    Gestures::type(text);
    Gestures::patchList(window)->setFocus();
}

// F2 opens the current row's name again, as the keyboard does; whether its editor took the keys.
bool reopenWithF2(QWidget& window)
{
    QTableView* list = Gestures::patchList(window);
    list->setFocus();
    QKeyEvent f2(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(list, &f2);
    return list_editors::tookTheKeys<QLineEdit>();
}

// Renames the list's `row` to `renamed`, then opens its name again with F2, which leaves the rename the
// last thing to undo; whether the editor took the keys.
bool renameThenOpenAgain(QWidget& window, DemoUnit& unit, int row, const QString& renamed)
{
    return renameOnTheUnit(window, unit, row, renamed) && reopenWithF2(window);
}

// Once an undo under the typing has put `name` back in the unit's `row`: the name editor the reloaded list
// opened again, the keys back in it; none when that does not come.
QLineEdit* editorBackAfterTheUndo(QWidget& window, DemoUnit& unit, int row, const std::string& name)
{
    if (!ProgramRig::waitUntil([&] { return unit.patchNameAt(row) == name; }, 10s)) return nullptr;
    return list_editors::backAfterTheUndo<QLineEdit>(window);
}

// The patch property sheet that shows; none when none does.
PatchPropertyViewController* shownPatchSheet()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* found = top->findChild<PatchPropertyViewController*>(); found && found->isVisible()) return found;
    return nullptr;
}

// The list row's property sheet, opened from its menu; none when it does not show.
PatchPropertyViewController* openedPatchSheet(QWidget& window)
{
    return ProgramRig::waitUntil([&] {
        MenuTour::openPatchSheet(window);
        return MenuTour::patchSheetShown();
    }, 10s) ? shownPatchSheet() : nullptr;
}

// A key to `to` as the platform sends it, and text typed there a key at a time.
void press(QWidget* to, int code, const QString& text = {})
{
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(to, &event);
}

void keys(QWidget* to, const QString& text)
{
    for (const QChar ch : text) press(to, 0, QString(ch));
}

std::string bothOnTheUnit(DemoUnit& unit, int row)
{
    return unit.patchNameAt(row).value_or("?") + " / " + unit.patchCommentAt(row).value_or("?");
}

void expectTheListShows(int row, const char* name, const char* comment)
{
    EXPECT_EQ(Gestures::patchListText(row, 1), QString::fromUtf8(name));
    EXPECT_EQ(Gestures::patchListText(row, 2), QString::fromUtf8(comment));
}

// Whether the program has the unit's change of the sheet's row to "Knob" (its file made, the screen maybe
// not told yet).
bool knobReported(ProgramRig& rig)
{
    const auto names = ProgramRig::patchNamesIn(rig.root() / "Temp" / "Device" / "Patch");
    return std::find(names.begin(), names.end(), "Knob") != names.end();
}

// Opens the row's sheet again until it shows and does `act` on it, until the unit holds the merge of its
// "Knob" and the sheet's "warmer", which the list then shows; whether it came.
void expectTheMergeThroughTheSheet(QWidget& window, DemoUnit& unit, const std::function<void(PatchPropertyViewController&)>& act)
{
    EXPECT_TRUE(ProgramRig::waitUntil([&] {
        if (!MenuTour::patchSheetShown()) MenuTour::openPatchSheet(window);
        else if (PatchPropertyViewController* sheet = shownPatchSheet()) act(*sheet);
        return bothOnTheUnit(unit, kRow) == "Knob / warmer";
    }, 20s)) << bothOnTheUnit(unit, kRow);
    expectTheListShows(kRow, "Knob", "warmer");
}

// Whether the screen holds a change the unit made, waiting for its quiet time.
bool changeWaits()
{
    return ProgramRig::waitUntil([] { return ProgramRig::patchScreen()->bufferedChangeCount() == 1; }, 10s);
}

}  // namespace

TEST(PatchList, ReadIntoTheListThenANameAndACommentEditedInPlaceReachTheUnit)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        for (int slot = 0; slot < unit.patchCount(); ++slot)
            expectTheListShows(slot, unit.patchNameAt(slot).value_or("?").c_str(), unit.patchCommentAt(slot).value_or("?").c_str());
        EXPECT_TRUE(renameOnTheUnit(window, unit, 1, QStringLiteral("New Name")));
        EXPECT_EQ(Gestures::patchListText(1, 1), QStringLiteral("New Name"));
        editComment(window, 2, QStringLiteral("Another comment"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(2) == "Another comment"; }));
        EXPECT_EQ(Gestures::patchListText(2, 2), QStringLiteral("Another comment"));
        // The neighbours are untouched.
        EXPECT_EQ(unit.patchNameAt(0), Gestures::patchListText(0, 1).toStdString());
        EXPECT_EQ(unit.patchNameAt(3), Gestures::patchListText(3, 1).toStdString());
    });
}

// The sheet's name and comment typed over a key at a time, through their rules, and saved with the Save
// button or as a person types: Tab takes the typing to the next field, past the last one to the buttons,
// where Return answers Save (in the comment it would start a new line). Escape in the name leaves as Cancel
// does: the typed name reaches neither the list nor the unit.
enum class SheetEnd { SaveButton, TabAndReturn, Escape };

class PatchListSheet : public ::testing::TestWithParam<SheetEnd> {};

TEST_P(PatchListSheet, ANameAndCommentTypedInThePropertySheet)
{
    const SheetEnd end = GetParam();
    onTheList([&](ProgramRig&, DemoUnit& unit, QWidget& window) {
        const std::string before = bothOnTheUnit(unit, kRow);
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        ASSERT_NE(unit.patchCommentAt(kRow).value_or("?"), "Sheet comment");
        sheet->patchNameTextField()->setFocus();
        sheet->patchNameTextField()->selectAll();
        keys(sheet->focusWidget(), QStringLiteral("Sheet Name"));
        if (end == SheetEnd::Escape) {
            press(sheet->focusWidget(), Qt::Key_Escape);
            EXPECT_TRUE(ProgramRig::waitUntil([] { return !MenuTour::patchSheetShown(); }, 5s));
            EXPECT_EQ(bothOnTheUnit(unit, kRow), before);
            EXPECT_EQ(Gestures::patchListText(kRow, 1).toStdString(), unit.patchNameAt(kRow));
            return;
        }
        if (end == SheetEnd::TabAndReturn) press(sheet->focusWidget(), Qt::Key_Tab, QStringLiteral("\t"));
        else sheet->patchCommentTextView()->setFocus();
        ASSERT_EQ(sheet->focusWidget(), sheet->patchCommentTextView());
        sheet->patchCommentTextView()->selectAll();
        keys(sheet->focusWidget(), QStringLiteral("Sheet comment"));
        ASSERT_EQ(sheet->patchCommentTextView()->toPlainText(), QStringLiteral("Sheet comment"));
        if (end == SheetEnd::TabAndReturn) {
            press(sheet->focusWidget(), Qt::Key_Tab, QStringLiteral("\t"));
            ASSERT_EQ(sheet->focusWidget(), sheet);
            press(sheet->focusWidget(), Qt::Key_Return, QStringLiteral("\r"));
        } else {
            ASSERT_TRUE(sheet->saveButton()->isEnabled());
            sheet->saveButton()->click();
        }
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return bothOnTheUnit(unit, kRow) == "Sheet Name / Sheet comment"; }))
            << bothOnTheUnit(unit, kRow);
        expectTheListShows(kRow, "Sheet Name", "Sheet comment");
        EXPECT_FALSE(MenuTour::patchSheetShown());
    });
}

INSTANTIATE_TEST_SUITE_P(PatchList, PatchListSheet, ::testing::Values(SheetEnd::SaveButton, SheetEnd::TabAndReturn, SheetEnd::Escape),
                         [](const ::testing::TestParamInfo<SheetEnd>& info) {
                             return std::string(std::array{"TheSaveButton", "TabFromTheNameToTheCommentAndReturnThere",
                                                           "EscapeInTheNameLeavesWithNothingSaved"}[static_cast<int>(info.param)]);
                         });

TEST(PatchList, TextFromAnInputMethodOrTheClipboardReachesTheUnitOnlyAsTheRulesTakeIt)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        const std::string comment = unit.patchCommentAt(4).value_or("?");
        // Kana committed by an input method go in as Latin letters; an emoji goes nowhere.
        ASSERT_NE(startRename(window, 3, {}), nullptr);
        for (const char* committed : {"\xF0\x9F\x8E\xB8", "\xE3\x81\x8B\xE3\x81\x8D"}) {
            QInputMethodEvent event;
            event.setCommitString(QString::fromUtf8(committed));
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "kaki"; }));
        EXPECT_EQ(Gestures::patchListText(3, 1), QStringLiteral("kaki"));

        // A pasted megabyte never reaches the comment, the list or the unit.
        ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, 4, 2));
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
// name that is not UTF-8. Editing the other field in the list keeps those bytes on the unit; an edit of
// such a text, undone, gives the unit back the very bytes it held, never an empty name or comment.
TEST(PatchList, AnEditOfOneFieldKeepsTheOtherOnTheUnitThoughItDoesNotDecode)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        const std::string latin1Comment = "caf\xE9 cr\xE8me";
        const std::string latin1Name = "\xC9t\xE9";
        unit.editOnUnit(1, "Latin", latin1Comment);
        unit.editOnUnit(2, latin1Name, "Readable");
        unit.editOnUnit(3, latin1Name, latin1Comment);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return ProgramRig::listNames(1, 4) == std::vector<std::string>{"Latin", "", ""}; }));
        EXPECT_EQ(Gestures::patchListText(1, 2), QString());
        EXPECT_EQ(Gestures::patchListText(2, 2), QStringLiteral("Readable"));
        EXPECT_TRUE(renameOnTheUnit(window, unit, 1, QStringLiteral("Renamed")));
        EXPECT_EQ(unit.patchCommentAt(1), latin1Comment);
        editComment(window, 2, QStringLiteral("Edited"));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(2) == "Edited"; }));
        EXPECT_EQ(unit.patchNameAt(2), latin1Name);

        ASSERT_TRUE(renameOnTheUnit(window, unit, 3, QStringLiteral("Named")));
        editComment(window, 3, QStringLiteral("Said"));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(3) == "Said"; }));
        for (const std::string& back : {"Named / " + latin1Comment, latin1Name + " / " + latin1Comment}) {
            ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
            EXPECT_TRUE(ProgramRig::waitUntil([&] { return bothOnTheUnit(unit, 3) == back; }, 20s)) << bothOnTheUnit(unit, 3);
        }
    });
}

// A change made on the unit while the property sheet is open, or before within the quiet time (far beyond
// the test), is not lost to the sheet's save: the unit ends with its own change and the sheet's comment.
// Saved after the unit's report reached the screen, or before (the event loop held still, so the report
// waits): the unit then takes our older name over its change, and the next opening of the sheet takes the
// report: the unit gets the merge though that sheet is cancelled.
class PatchListSheetMerge : public ::testing::TestWithParam<bool> {};

TEST_P(PatchListSheetMerge, AChangeMadeOnTheUnitMeanwhileSurvivesThePropertySheetsSave)
{
    const bool beforeTheScreenHeard = GetParam();
    onTheList([&](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        unit.editOnUnit(kRow, "Knob", "From the unit");
        const auto saveWarmer = [](PatchPropertyViewController& sheet) {
            sheet.patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
            sheet.saveButton()->click();
        };
        if (!beforeTheScreenHeard) {
            // Once the program has the unit's change (a save before it would replace it on the unit, as the
            // user's newer word), saved until the change has reached the screen and the unit holds both.
            ASSERT_TRUE(ProgramRig::waitUntil([&] { return knobReported(rig); }));
            expectTheMergeThroughTheSheet(window, unit, saveWarmer);
            return;
        }
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (!knobReported(rig) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(knobReported(rig));
        saveWarmer(*sheet);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(kRow) == "warmer"; }, 20s));
        expectTheMergeThroughTheSheet(window, unit, [](PatchPropertyViewController& sheet) { sheet.cancelButton()->click(); });
    }, 600);
}

INSTANTIATE_TEST_SUITE_P(PatchList, PatchListSheetMerge, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "SavedBeforeTheUnitsReportReachedTheScreen" : "SavedOnceTheReportReachedTheScreen");
});

// The quiet time applies the unit's change under an open sheet whose keys are on its buttons: the sheet's
// save then writes only the text it changed, over the patch as the unit made it, never its own old copy.
TEST(PatchList, TheSheetsSaveKeepsAChangeTheQuietTimeAppliedWhileItWasOpen)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        PatchPropertyViewController* sheet = openedPatchSheet(window);
        ASSERT_NE(sheet, nullptr);
        // Tab past the comment: the keys are on the sheet's buttons, and the quiet time applies the change.
        sheet->window()->activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return sheet->window()->isActiveWindow(); }, 5s));
        sheet->patchNameTextField()->setFocus();
        press(sheet->focusWidget(), Qt::Key_Tab, QStringLiteral("\t"));
        press(sheet->focusWidget(), Qt::Key_Tab, QStringLiteral("\t"));
        ASSERT_EQ(sheet->focusWidget(), sheet);
        ASSERT_EQ(QApplication::focusWidget(), sheet);
        unit.editOnUnit(kRow, "Knob", "From the unit");
        ASSERT_TRUE(ProgramRig::waitUntil([] { return Gestures::patchListText(kRow, 1) == QStringLiteral("Knob"); }, 20s));
        ASSERT_TRUE(MenuTour::patchSheetShown());
        sheet->patchCommentTextView()->setPlainText(QStringLiteral("warmer"));
        press(sheet->focusWidget(), Qt::Key_Return, QStringLiteral("\r"));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(kRow) == "warmer"; }, 20s)) << bothOnTheUnit(unit, kRow);
        EXPECT_EQ(unit.patchNameAt(kRow), "Knob");
        expectTheListShows(kRow, "Knob", "warmer");
    }, 1);
}

// A name typed in the list's cell while the unit's change waits for the quiet time goes over that change:
// the list and the unit end with the typed name and the unit's comment.
TEST(PatchList, ANameTypedInTheCellGoesOverTheUnitsWaitingChange)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        unit.editOnUnit(1, "Knob", "From the unit");
        // Once the screen holds the unit's change: its file on disk comes a step before the screen is told,
        // and a name typed in between is a name typed before the program knew of the change.
        ASSERT_TRUE(changeWaits());
        ASSERT_TRUE(renameOnTheUnit(window, unit, 1, QStringLiteral("Typed")));
        EXPECT_EQ(unit.patchCommentAt(1), "From the unit");
        expectTheListShows(1, "Typed", "From the unit");
    }, 600);
}

// Nothing typed in the editor; the undo of the patch's earlier edit takes the unit's waiting change of the
// other text (the quiet time far beyond the test: only the undo's write takes it). Leaving the comment's
// editor, or Escape in the name's, writes nothing over the unit's change.
TEST(UnitChangeUndo, AnUntouchedEditorUnderAnUndoLeavesTheUnitsChangeOnTheUnit)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        // Row 3 renamed; the unit then sets its comment; the comment's editor opens; the rename is undone.
        const std::string name3 = unit.patchNameAt(3).value_or("?");
        ASSERT_TRUE(renameOnTheUnit(window, unit, 3, QStringLiteral("Renamed")));
        unit.editOnUnit(3, "Renamed", "Set on the unit");
        ASSERT_TRUE(changeWaits());
        ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, 3, 2));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        auto* comment = list_editors::backAfterTheUndo<QPlainTextEdit>(window);
        ASSERT_NE(comment, nullptr);
        EXPECT_EQ(comment->toPlainText().toStdString(), "Set on the unit");
        Gestures::patchList(window)->setFocus();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return list_editors::shown<QPlainTextEdit>(window) == nullptr; }, 5s));

        // Row 5's comment edited; the unit then sets its name; the name's editor opens; the edit is undone.
        const std::string comment5 = unit.patchCommentAt(5).value_or("?");
        editComment(window, 5, QStringLiteral("Warm"));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(5) == "Warm"; }));
        unit.editOnUnit(5, "Unit Five", "Warm");
        ASSERT_TRUE(changeWaits());
        ASSERT_TRUE(list_editors::open<QLineEdit>(window, 5, 1));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        auto* name = list_editors::backAfterTheUndo<QLineEdit>(window);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text().toStdString(), "Unit Five");
        Gestures::type({}, Qt::Key_Escape);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return list_editors::shown<QLineEdit>(window) == nullptr; }, 5s));

        // A write queued after anything the editors could have sent: once it lands, the unit holds what
        // the undos and its own changes left.
        ASSERT_TRUE(renameOnTheUnit(window, unit, 7, QStringLiteral("Marker")));
        EXPECT_EQ(unit.patchNameAt(3), name3);
        EXPECT_EQ(unit.patchCommentAt(3).value_or("?"), "Set on the unit");
        EXPECT_EQ(unit.patchNameAt(5).value_or("?"), "Unit Five");
        EXPECT_EQ(unit.patchCommentAt(5), comment5);
        EXPECT_EQ(Gestures::patchListText(3, 2).toStdString(), "Set on the unit");
        EXPECT_EQ(Gestures::patchListText(5, 1).toStdString(), "Unit Five");
    }, 600);
}

// A reload that changes the very name being edited (an undo of its earlier rename) leaves the editor
// open with the patch's name as it now is for its original: Escape brings that back and writes nothing,
// and an editor in which nothing was typed shows it and changes nothing when the user clicks away.
TEST(PatchList, AReloadThatChangedTheEditedNameIsWhatEscapeAndAnUntouchedEditorKeep)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        const std::string first = unit.patchNameAt(3).value_or("?");
        for (const QString& typed : {QStringLiteral("Lea"), QString()}) {
            SCOPED_TRACE(typed.isEmpty() ? "nothing typed, a click beside it" : "typed, then Escape");
            ASSERT_TRUE(renameThenOpenAgain(window, unit, 3, typed.isEmpty() ? QStringLiteral("Again") : QStringLiteral("Renamed")));
            Gestures::type(typed);
            ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
            QLineEdit* editor = editorBackAfterTheUndo(window, unit, 3, first);
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->text().toStdString(), typed.isEmpty() ? first : typed.toStdString());
            if (typed.isEmpty()) Gestures::patchList(window)->setFocus();
            else Gestures::type({}, Qt::Key_Escape);
            EXPECT_EQ(Gestures::patchListText(3, 1).toStdString(), first);
        }
        // A write queued after anything those two could have sent: once it lands, the unit holds the
        // name the undo left.
        ASSERT_TRUE(renameOnTheUnit(window, unit, 4, QStringLiteral("Marker")));
        EXPECT_EQ(unit.patchNameAt(3), first);
    });
}

// The user looks a name up in another program half-way through typing it, and the list reloads twice
// meanwhile (the unit's writes, a pool's copies landing): nothing reaches the unit, and a rename, its
// selection, and a comment, its cursor, go on where the user left them.
TEST(PatchList, TwoReloadsWhileAnotherWindowHasTheKeysKeepTheCursorAndSelection)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        const auto reloadTwiceAway = [&] {
            const std::string before = bothOnTheUnit(unit, 1);
            {
                const auto browser = ProgramRig::anotherWindowTakesTheKeys();
                ASSERT_NE(browser, nullptr);
                auto* list = static_cast<CustomTableViewForPatch*>(Gestures::patchList(window));
                list->reloadData();
                list->reloadData();
                ProgramRig::settle(300ms);
                EXPECT_EQ(bothOnTheUnit(unit, 1), before);
                EXPECT_EQ(Gestures::patchListText(1, 1).toStdString(), unit.patchNameAt(1));
            }
            window.activateWindow();
        };
        ASSERT_NE(startRename(window, 1, QStringLiteral("Lead")), nullptr);
        // "e" selected, the cursor before it.
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left, Qt::ShiftModifier);
        reloadTwiceAway();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return QApplication::focusWidget() == list_editors::shown<QLineEdit>(window); }, 5s));
        QLineEdit* editor = list_editors::shown<QLineEdit>(window);
        EXPECT_EQ(editor->selectedText(), QStringLiteral("e"));
        EXPECT_EQ(editor->cursorPosition(), 1);
        Gestures::type(QStringLiteral("x"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "Lxad"; }, 10s))
            << unit.patchNameAt(1).value_or("?") << " / " << Gestures::patchListText(1, 1).toStdString();

        ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, 1, 2));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Warm"));
        Gestures::type({}, Qt::Key_Left);
        Gestures::type({}, Qt::Key_Left);
        reloadTwiceAway();
        QPlainTextEdit* comment = nullptr;
        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            comment = qobject_cast<QPlainTextEdit*>(QApplication::focusWidget());
            return comment != nullptr && comment->isVisible();
        }, 5s));
        EXPECT_EQ(comment->textCursor().position(), 2);
        Gestures::type(QStringLiteral("x"));
        Gestures::patchList(window)->setFocus();
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(1) == "Waxrm"; }, 10s)) << unit.patchCommentAt(1).value_or("?");
    });
}

// Undo clicked with the pointer while a name is typed, in the popover under the panes and in the Control
// menu: neither takes the keys from the typing, so neither commits it; each undoes the edit before it, the
// list reloaded under the typing, which stays open where it was, keys back in it, until the user ends it.
TEST(PatchList, AnUndoClickedWithThePointerUndoesTheEditBeforeTheTyping)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
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
        EXPECT_FALSE(editor->hasSelectedText()) << editor->selectedText().toStdString();

        ASSERT_TRUE(Gestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Undo")));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == first; }, 10s)) << unit.patchNameAt(3).value_or("?");
        // A window manager activates the window again as the menu closes; the offscreen platform is asked.
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return QApplication::focusWidget() == list_editors::shown<QLineEdit>(window); }, 5s));
        editor = list_editors::shown<QLineEdit>(window);
        EXPECT_EQ(editor->text(), QStringLiteral("Xy"));
        EXPECT_FALSE(editor->hasSelectedText()) << editor->selectedText().toStdString();
        Gestures::type(QStringLiteral("z"));
        Gestures::type({}, Qt::Key_Return);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "Xyz"; }, 10s)) << unit.patchNameAt(3).value_or("?");
    });
}

// Disconnect while a name is typed, from the Control menu or the Eject button: the name is written to the
// unit before it is let go, as Quit writes it.
class PatchListEject : public ::testing::TestWithParam<bool> {};

TEST_P(PatchListEject, WhileANameIsTypedWritesItFirst)
{
    onTheList([](ProgramRig&, DemoUnit& unit, QWidget& window) {
        ASSERT_NE(startRename(window, 1, QStringLiteral("Typed")), nullptr);
        if (GetParam()) Gestures::clickButton(window, "ejectButton");
        else ASSERT_TRUE(Gestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Disconnect")));
        ASSERT_TRUE(ProgramRig::offers("Connect", 20s));
        EXPECT_EQ(unit.patchNameAt(1), "Typed");
    });
}

INSTANTIATE_TEST_SUITE_P(PatchList, PatchListEject, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "TheEjectButton" : "DisconnectFromTheMenu");
});

// The window closed from a pager, or the session ending, while another program has the keys: the name
// typed in the list is the user's last word, which the unit holds when let go (at a cable's pace, behind
// its write). A name emptied is refused by the rule as on any end of the typing, and the end goes on.
struct TypedAtTheEnd {
    const char* name;
    bool bySignal;
    bool atACablesPace;
    bool emptied;
};

void PrintTo(const TypedAtTheEnd& row, std::ostream* out) { *out << row.name; }

class PatchListEnd : public ::testing::TestWithParam<TypedAtTheEnd> {};

TEST_P(PatchListEnd, WhileAnotherWindowHasTheKeysLeavesTheUnitTheTypedName)
{
    const TypedAtTheEnd end = GetParam();
    std::optional<std::string> before;
    std::optional<std::string> atTheEnd;
    ProgramRig rig;
    rig.atUnitEnd([&](DemoUnit& unit) { atTheEnd = unit.patchNameAt(1); });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        ASSERT_TRUE(ProgramRig::focusWindow());
        before = rig.unit().patchNameAt(1);
        ASSERT_NE(startRename(rig.window(), 1, end.emptied ? QStringLiteral("x") : QStringLiteral("Ending")), nullptr);
        if (end.emptied) Gestures::type({}, Qt::Key_Backspace);
        const auto browser = ProgramRig::anotherWindowTakesTheKeys();
        ASSERT_NE(browser, nullptr);
        // 3,125 bytes a second: a MIDI cable's rate.
        if (end.atACablesPace) rig.unit().unit().setPacing(3125.0, std::chrono::microseconds(0));
        if (end.bySignal) rig.endBySignal(SIGTERM);
        else rig.closeWindow();
    });
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(atTheEnd, end.emptied ? before : std::optional<std::string>("Ending"));
}

INSTANTIATE_TEST_SUITE_P(PatchList, PatchListEnd,
                         ::testing::Values(TypedAtTheEnd{"ClosedFromAPager", false, false, false},
                                           TypedAtTheEnd{"TheSessionsEnd", true, false, false},
                                           TypedAtTheEnd{"TheSessionsEndAtACablesPace", true, true, false},
                                           TypedAtTheEnd{"ClosedFromAPagerAtACablesPace", false, true, false},
                                           TypedAtTheEnd{"ANameEmptiedAsTheWindowCloses", false, false, true}),
                         [](const ::testing::TestParamInfo<TypedAtTheEnd>& info) { return std::string(info.param.name); });
