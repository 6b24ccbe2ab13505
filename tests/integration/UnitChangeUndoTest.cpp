// The unit's own change taken in by an undo from the popover while a name or comment editor is open on
// its patch, end to end: what the unit and the list hold once the editor is left.

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "ListEditors.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolOutlineView.h"

using namespace std::chrono_literals;
using Gestures = WindowGestures;

namespace {

// Undoes the newest edit from the popover, puts the popover away and gives the window the keys back; the
// editor the reloaded list opened again, with the keys, or none.
template <typename Editor>
Editor* undoUnderTheEditor(QWidget& window)
{
    if (!ProgramRig::waitUntil([&] {
            UndoTour::openUndoPopover(window);
            return UndoTour::undoPopoverShown();
        }, 10s))
        return nullptr;
    UndoTour::undoFromPopover(window);
    list_editors::backToTheWindow(window);
    if (!ProgramRig::waitUntil([&] { return list_editors::shown<Editor>(window) != nullptr; }, 5s)) return nullptr;
    Editor* editor = list_editors::shown<Editor>(window);
    if (!ProgramRig::waitUntil([&] { return QApplication::focusWidget() == editor; }, 5s)) return nullptr;
    return editor;
}

}  // namespace

// Nothing typed in the editor; the undo of the patch's earlier edit takes the unit's waiting change of the
// other text. Leaving the comment's editor, or Escape in the name's, writes nothing over the unit's change.
TEST(UnitChangeUndo, AnUntouchedEditorUnderAnUndoLeavesTheUnitsChangeOnTheUnit)
{
    ProgramRig::Options options;
    // Far beyond the test: only the undo's write takes the unit's change.
    options.quietSeconds = 600;
    ProgramRig rig(options);
    rig.runToTheEnd([](ProgramRig& rig) {
        DemoUnit& unit = rig.unit();
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return window.isActiveWindow(); }, 5s));
        auto* pool = window.findChild<PatchPoolOutlineView*>();
        auto* screen = pool != nullptr ? dynamic_cast<PatchManagerViewController*>(pool->backUpDelegate()) : nullptr;
        ASSERT_NE(screen, nullptr);

        // Row 3 renamed; the unit then sets its comment; the comment's editor opens; the rename is undone.
        const std::string name3 = unit.patchNameAt(3).value_or("?");
        ASSERT_TRUE(list_editors::open<QLineEdit>(window, 3, 1));
        Gestures::type(QStringLiteral("Renamed"));
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(3) == "Renamed"; }));
        unit.editOnUnit(3, "Renamed", "Set on the unit");
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return screen->bufferedChangeCount() == 1; }, 10s));
        ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, 3, 2));
        auto* comment = undoUnderTheEditor<QPlainTextEdit>(window);
        ASSERT_NE(comment, nullptr);
        EXPECT_EQ(comment->toPlainText().toStdString(), "Set on the unit");
        Gestures::patchList(window)->setFocus();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return list_editors::shown<QPlainTextEdit>(window) == nullptr; }, 5s));

        // Row 5's comment edited; the unit then sets its name; the name's editor opens; the edit is undone.
        const std::string comment5 = unit.patchCommentAt(5).value_or("?");
        ASSERT_TRUE(list_editors::open<QPlainTextEdit>(window, 5, 2));
        Gestures::type({}, Qt::Key_A, Qt::ControlModifier);
        Gestures::type(QStringLiteral("Warm"));
        Gestures::patchList(window)->setFocus();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchCommentAt(5) == "Warm"; }));
        unit.editOnUnit(5, "Unit Five", "Warm");
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return screen->bufferedChangeCount() == 1; }, 10s));
        ASSERT_TRUE(list_editors::open<QLineEdit>(window, 5, 1));
        auto* name = undoUnderTheEditor<QLineEdit>(window);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text().toStdString(), "Unit Five");
        Gestures::type({}, Qt::Key_Escape);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return list_editors::shown<QLineEdit>(window) == nullptr; }, 5s));

        // A write queued after anything the editors could have sent: once it lands, the unit holds what
        // the undos and its own changes left.
        ASSERT_TRUE(list_editors::open<QLineEdit>(window, 7, 1));
        Gestures::type(QStringLiteral("Marker"));
        Gestures::type({}, Qt::Key_Return);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(7) == "Marker"; }));
        EXPECT_EQ(unit.patchNameAt(3), name3);
        EXPECT_EQ(unit.patchCommentAt(3).value_or("?"), "Set on the unit");
        EXPECT_EQ(Gestures::patchListText(3, 2).toStdString(), "Set on the unit");
        EXPECT_EQ(unit.patchNameAt(5).value_or("?"), "Unit Five");
        EXPECT_EQ(unit.patchCommentAt(5), comment5);
        EXPECT_EQ(Gestures::patchListText(5, 1).toStdString(), "Unit Five");
    });
}
