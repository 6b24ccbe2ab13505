#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>

#include "app/patch/BackupPatch.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPoolOutlineViewDelegate.h"
#include "app/patch/PoolNameEditor.h"
#include "app/controls/CustomCellForAttributedString.h"
#include "app/views/InterfaceTexts.h"
#include "library/undo/SelectionAction.h"
#include "app/views/NamedImages.h"
#include "PatchCases.h"
#include "support/app/Contrast.h"
#include "support/app/PatchScreenRig.h"

namespace {

using namespace testing_app;
using Rows = std::vector<int>;

class PatchPoolOutlineViewTest : public testing_app::PatchScreenRig {
protected:
    PatchPoolOutlineViewTest()
    {
        // Rows when G is closed: 0 A, 1 B, 2 G, 3 Empty, 4 Backup; G holds C and D.
        screen->setStructureData({a, b, g, empty, backup});
        load(3);
        screen->view()->resize(900, 500);
        screen->view()->show();
        screen->reloadDataInPatchPool();
        pool = screen->rightPanelOutlineView();
        spin();
    }
    // Empty space below the rows for a negative row.
    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool twice = false)
    {
        const QPoint at = row < 0 ? QPoint(50, pool->viewport()->height() - 2) : pool->visualRect(pool->indexForRow(row)).center();
        testing_app::click(pool->viewport(), at, Qt::LeftButton, modifiers);
        if (!twice) return;
        for (const auto kind : {QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) mouse(pool->viewport(), kind, at, Qt::LeftButton, modifiers);
    }
    PoolNameEditor* editor() const { return pool->nameEditor(); }
    // F2 on the row clicked: its name's editor.
    PoolNameEditor* rename(int row)
    {
        click(row);
        tap(pool, Qt::Key_F2);
        return editor();
    }
    void typeName(const QString& text)
    {
        for (const QChar ch : text) tap(editor(), 0, Qt::NoModifier, QString(ch));
    }
    void end(int key)
    {
        tap(editor(), key);
        testing_app::processEventsUntil([this] { return editor() == nullptr; });
    }
    QWidget* openPopover()
    {
        auto* menu = new QWidget(nullptr, Qt::Popup);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->show();
        pool->setMenuPopover(menu);
        return menu;
    }
    bool popoverClosed() const { return pool->menuPopover() == nullptr || !pool->menuPopover()->isVisible(); }

    Node a = patchNode("A"), b = patchNode("B"), c = patchNode("C"), d = patchNode("D"), g = groupNode("G", {c, d}),
         empty = groupNode("Empty"), backup = groupNode("Backup", {patchNode("P1"), patchNode("P2")}, true);
    PatchPoolOutlineView* pool = nullptr;
};

// Ctrl picks rows here, so the Control-click that counts as a right click is the one Qt names Meta: it
// selects the row it lands on as a right click does and opens the row's menu, where Ctrl-click adds a row.
TEST_F(PatchPoolOutlineViewTest, AControlClickIsARightClickAndCtrlStillPicksRows)
{
    click(0);
    click(1, Qt::ControlModifier);
    EXPECT_EQ(pool->selectedRowList(), (Rows{0, 1}));
    EXPECT_TRUE(popoverClosed());
    click(4, Qt::MetaModifier);
    EXPECT_EQ(pool->selectedRowList(), Rows{4});
    ASSERT_NE(pool->optionMenu(), nullptr);
    ASSERT_NE(pool->menuPopover(), nullptr);
    EXPECT_TRUE(pool->menuPopover()->isVisible());
    EXPECT_EQ(pool->numberOfRows(), 5) << "the backup group stays closed: no left click reached it";
    pool->closeRightClickMenu();
}

TEST_F(PatchPoolOutlineViewTest, ReleasesSelectByTheCtrlRuleAndOpenOrCloseGroups)
{
    // Each click, then the rows selected, how many rows show and whether the pool is in restore-all mode.
    const struct { const char* what; int row; bool ctrl; Rows selected; int rows; bool restoreAll; } steps[] = {
        {"a patch", 0, false, {0}, 5, false},
        {"Ctrl adds a patch", 1, true, {0, 1}, 5, false},
        {"a group, alone and opened: C and D take rows 3 and 4", 2, false, {2}, 7, false},
        {"a child", 3, false, {3}, 7, false},
        {"Ctrl adds its sibling", 4, true, {3, 4}, 7, false},
        {"the backup-all group: alone, and opened", 6, true, {6}, 9, true},
        {"a child again", 3, false, {3}, 9, false},
        {"and its sibling", 4, true, {3, 4}, 9, false},
        {"closing the group drops its selected children", 2, false, {2}, 7, false},
        {"an empty group neither opens nor closes", 3, false, {3}, 7, false},
        {"empty space deselects everything", -1, false, {}, 7, false},
    };
    for (const auto& step : steps) {
        click(step.row, step.ctrl ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_EQ(std::tuple(pool->selectedRowList(), pool->numberOfRows(), screen->isRestoreAllMode()),
                  std::tuple(step.selected, step.rows, step.restoreAll))
            << step.what;
    }
    // A locked pool ignores presses and releases.
    screen->setLockPatchPool(true);
    click(0);
    EXPECT_TRUE(pool->selectedRowList().empty());
}

TEST_F(PatchPoolOutlineViewTest, RenamesInPlaceUnderTheRulesWithF2EscapeAndDoubleClicks)
{
    // F2 with nothing selected does nothing.
    tap(pool, Qt::Key_F2);
    EXPECT_EQ(editor(), nullptr);
    click(0, Qt::NoModifier, true);
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(pool->editedRow(), 0);
    // The patch-name rule holds each change: ten characters at most, and other scripts in Latin letters.
    for (const auto& [typed, shown] : {std::pair{"ABCDEFGHIJK", "ABCDEFGHIJ"}, {"L\u30AB", "Lka"}, {"Lead", "Lead"}}) {
        editor()->selectAll();
        typeName(QString::fromUtf8(typed));
        EXPECT_EQ(editor()->text(), QString::fromUtf8(shown));
    }
    end(Qt::Key_Return);
    EXPECT_EQ(*a->name, "Lead");
    EXPECT_EQ(a->patchItem()->patchName, "Lead");
    EXPECT_NE(std::find(log.begin(), log.end(), "editFilePatch Lead|cA"), log.end());
    ASSERT_TRUE(undo.canBeUndo());

    // A group name with a forbidden character: the rule's message, the old name back.
    ASSERT_NE(rename(2), nullptr);
    editor()->selectAll();
    typeName(QStringLiteral("a/b"));
    end(Qt::Key_Return);
    EXPECT_EQ(*g->name, "G");
    EXPECT_NE(std::find(log.begin(), log.end(), "rule Patch_InvalidGroupName"), log.end());

    // F2 shows the name selected and readable on its highlight as the editor draws it (the list it sits on
    // has no highlight of its own to lend); Escape brings the old name back without a message.
    for (const int row : {1, 2}) {
        SCOPED_TRACE(row);
        log.clear();
        ASSERT_NE(rename(row), nullptr);
        ASSERT_FALSE(editor()->text().isEmpty());
        ASSERT_EQ(editor()->selectedText(), editor()->text());
        const QImage shot = editor()->grab().toImage();
        EXPECT_GE(testing_app::selectedTextContrast(shot, shot.pixelColor(shot.width() - 5, shot.height() / 2)), 4.5);
        EXPECT_EQ(screen->editingItemInPool(), row == 1 ? b : g);
        typeName(QStringLiteral("X"));
        end(Qt::Key_Escape);
        EXPECT_EQ(*b->name + *g->name, "BG");
        EXPECT_TRUE(log.empty());
        // The row is no longer the one being edited.
        EXPECT_EQ(screen->editingItemInPool(), nullptr);
        EXPECT_EQ(pool->editedRow(), -1);
    }
    // A name another tool gave, left as it was, is no refusal: the added limits are for what is typed.
    a->name = "Caf\xC3\xA9";
    pool->reloadData();
    ASSERT_NE(rename(0), nullptr);
    log.clear();
    tap(editor(), Qt::Key_Return);
    EXPECT_EQ(*a->name, "Caf\xC3\xA9");
    for (const auto& entry : log) EXPECT_EQ(entry.rfind("rule", 0), std::string::npos) << entry;
}

// The pool reloads whenever its background work ends. A name being typed then goes on in the item's
// editor wherever the item now is; once Return is pressed the name is the item's, whatever reload follows
// before the loop turns again; an item the reload took away ends the edit.
TEST_F(PatchPoolOutlineViewTest, ANameBeingTypedOutlivesAReloadAndReturnCommitsAtOnce)
{
    ASSERT_NE(rename(1), nullptr);
    editor()->selectAll();
    typeName(QStringLiteral("Bass"));
    screen->setStructureData({b, a, g, empty, backup});
    pool->reloadData();
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->text(), QStringLiteral("Bass"));
    EXPECT_EQ(pool->editedRow(), 0);
    typeName(QStringLiteral("ist"));
    EXPECT_EQ(editor()->text(), QStringLiteral("Bassist"));
    tap(editor(), Qt::Key_Return);
    pool->reloadData();
    EXPECT_EQ(*b->name, "Bassist");
    EXPECT_EQ(editor(), nullptr);
    EXPECT_EQ(pool->editedRow(), -1);

    ASSERT_NE(rename(1), nullptr);
    typeName(QStringLiteral("Gone"));
    screen->setStructureData({b, g, empty, backup});
    pool->reloadData();
    EXPECT_EQ(editor(), nullptr);
    EXPECT_EQ(*a->name, "A");
}

TEST_F(PatchPoolOutlineViewTest, AnotherWindowTakingTheKeysLeavesTheNameBeingTypedUncommitted)
{
    ASSERT_TRUE(activate(*screen->view()));
    PoolNameEditor* typing = rename(1);
    ASSERT_NE(typing, nullptr);
    typing->setFocus();
    typing->selectAll();
    typeName(QStringLiteral("Ba"));
    QWidget other;
    ASSERT_TRUE(testing_app::activateAnotherWindow(other));
    ASSERT_EQ(editor(), typing);
    EXPECT_EQ(*b->name, "B");

    ASSERT_TRUE(activate(*screen->view()));
    EXPECT_EQ(QApplication::focusWidget(), typing);
    typeName(QStringLiteral("ss"));
    tap(editor(), Qt::Key_Return);
    EXPECT_EQ(*b->name, "Bass");
}

// What the pool tells its screen, with the selection as it stood at each click.
struct RecordingBackupPatch : BackupPatch {
    PatchPoolOutlineView* pool = nullptr;
    Log calls;
    void didClickOnItem(const Node& item, std::int64_t index) override
    {
        std::string selected;
        for (const int row : pool->selectedRowList()) selected += std::to_string(row);
        logs(calls, "click")(item, index, "[" + selected + "]");
    }
    void outlineViewDidResignFirstResponder() override { calls.push_back("resign"); }
};

TEST_F(PatchPoolOutlineViewTest, ClicksAreToldBeforeTheSelectionChangesAndFocusLossIsTold)
{
    RecordingBackupPatch recorder;
    recorder.pool = pool;
    pool->setBackUpDelegate(&recorder);
    click(0);
    click(1);
    click(-1);
    EXPECT_EQ(recorder.calls, (Log{"click A 0 []", "click B 1 [0]", "click - -1 []"}));
    openPopover();
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QApplication::sendEvent(pool, &out);
    EXPECT_EQ(recorder.calls.back(), "resign");
    EXPECT_TRUE(popoverClosed());
    pool->setBackUpDelegate(screen.get());
}

// In the pool and in the list alike. The desktop's Redo chord takes nothing back, nor do the pool's Alt chords.
TEST_F(PatchPoolOutlineViewTest, CtrlZUndoesUnlessRestoringAndOtherKeysAreSwallowed)
{
    for (QWidget* view : {static_cast<QWidget*>(pool), static_cast<QWidget*>(screen->patchManagerTableView())}) {
        SCOPED_TRACE(view->metaObject()->className());
        undo.addActionStack(std::make_shared<SelectionAction>(std::vector<std::int64_t>{}));
        appDelegate.setIsRestoringAll(true);
        tap(view, Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
        EXPECT_TRUE(undo.canBeUndo());
        appDelegate.setIsRestoringAll(false);
        tap(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("Z"));
        if (view == pool) tap(view, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("z"));
        EXPECT_TRUE(undo.canBeUndo());
        tap(view, Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
        EXPECT_FALSE(undo.canBeUndo());
    }
}

// An input method's committed text would select the row whose name starts with it: neither view selects,
// records or tells the unit anything.
TEST_F(PatchPoolOutlineViewTest, CommittedInputMethodTextSelectsNoRow)
{
    CustomTableViewForPatch& list = *screen->patchManagerTableView();
    click(0);
    testing_app::click(list.viewport(), list.visualRect(list.model()->index(1, 1)).center());
    const auto before = pool->selectedRowList();
    undo.clearUndoStack();
    log.clear();
    for (const auto& [view, text] : {std::pair<QWidget*, QString>{pool, QStringLiteral("B")}, {&list, QStringLiteral("P2")}}) {
        view->setFocus();
        commitText(view, text);
    }
    EXPECT_EQ(pool->selectedRowList(), before);
    EXPECT_EQ(list.selectedRows(), std::vector<std::uint64_t>{1});
    EXPECT_TRUE(undo.actionStack().empty());
    EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
}

TEST_F(PatchPoolOutlineViewTest, TheRulerShowsOnlyWhenRowsPassTheVisibleAreaAndTheObserverRunsOnce)
{
    // Five top-level patches of 24: 120 high.
    screen->setStructureData({patchNode("1"), patchNode("2"), patchNode("3"), patchNode("4"), patchNode("5")});
    screen->reloadDataInPatchPool();
    // The header takes its height above the rows.
    const int header = pool->header()->height();
    pool->setFixedHeight(120 + header);
    spin();
    ASSERT_EQ(pool->viewport()->height(), 120);
    EXPECT_FALSE(pool->isExpandedOverView());
    pool->setFixedHeight(119 + header);
    spin();
    EXPECT_TRUE(pool->isExpandedOverView());
    screen->setStructureData({});
    screen->reloadDataInPatchPool();
    EXPECT_FALSE(pool->isExpandedOverView());

    screen->setStructureData({a, b, g, empty, backup});
    screen->reloadDataInPatchPool();
    pool->setFixedHeight(60);
    for (int i = 0; i < 3; ++i) pool->viewport()->repaint();
    openPopover();
    const int before = pool->boundsChangeCount();
    pool->verticalScrollBar()->setValue(pool->verticalScrollBar()->value() + 10);
    EXPECT_EQ(pool->boundsChangeCount(), before + 1);
    EXPECT_TRUE(popoverClosed()) << "scrolling closes the open menu";
}

TEST_F(PatchPoolOutlineViewTest, OpeningAGroupShowsItsLastChildAndThenItsOwnRow)
{
    const Node big = groupNode("Big");
    std::vector<Node> top;
    for (int i = 0; i < 12; ++i) big->childDirectories.push_back(patchNode("C" + std::to_string(i)));
    for (int i = 0; i < 6; ++i) top.push_back(patchNode("T" + std::to_string(i)));
    top.push_back(big);
    screen->setStructureData(top);
    screen->reloadDataInPatchPool();
    pool->setFixedHeight(24 * 8);
    spin();
    auto* model = pool->poolModel();
    const QModelIndex group = model->indexOf(big.get());
    pool->expandItem(group);
    // Twelve children do not fit under the group: the group's row shows, at the top.
    EXPECT_GE(pool->visualRect(group).top(), 0);
    EXPECT_LT(pool->visualRect(group).top(), 24);
    EXPECT_TRUE(pool->isExpandedOverView());

    // A group with few children shows them all, the last one included.
    screen->setStructureData(top);
    big->childDirectories.resize(2);
    screen->reloadDataInPatchPool();
    pool->collapseItem(model->indexOf(big.get()));
    pool->verticalScrollBar()->setValue(0);
    pool->expandItem(model->indexOf(big.get()));
    const QRect last = pool->visualRect(model->index(1, 0, model->indexOf(big.get())));
    EXPECT_LE(last.bottom(), pool->viewport()->height());
    EXPECT_GE(last.top(), 0);
}

TEST_F(PatchPoolOutlineViewTest, MenuChoicesCloseThePopoverEvenWhenTheScreenDoesNotAnswer)
{
    PatchPoolOutlineViewDelegate silent;
    pool->setRightClickPatchPoolDelegate(&silent);
    QWidget* popover = openPopover();
    pool->optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(nullptr, a, nullptr);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_FALSE(pool->optionMenuForPatchPoolCanCopyToDeviceMemory(nullptr));
    // The screen's create-group answer: a new group at the top, selected alone.
    pool->setRightClickPatchPoolDelegate(screen.get());
    click(1);
    pool->optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(nullptr, nullptr, nullptr);
    EXPECT_EQ(*screen->structureData().front()->name, "New Patch Group 1");
    EXPECT_EQ(pool->selectedRowList(), Rows{0});
}

TEST_F(PatchPoolOutlineViewTest, RowsAreTitledAndDressedByTheScreen)
{
    auto* model = pool->poolModel();
    const QModelIndex backupRow = model->indexOf(backup.get());
    EXPECT_EQ(model->index(0, 0, backupRow).data().toString() + model->index(1, 0, backupRow).data().toString(),
              QStringLiteral("1-1: P11-2: P2"));
    EXPECT_EQ(model->indexOf(g.get()).data(Qt::SizeHintRole).toSize().height(), 26);
    EXPECT_EQ(model->indexOf(a.get()).data(Qt::SizeHintRole).toSize().height(), 24);
    const auto content = [&](const Node& node) {
        return model->indexOf(node.get()).data(CustomCellForAttributedString::kRowContentRole).value<PoolRowContent>();
    };
    EXPECT_EQ(std::tuple(content(a).isSingleItem, content(c).isSingleItem, content(a).isEffectPoolCell, content(g).iconImage.isNull()),
              std::tuple(true, false, false, true));
    EXPECT_EQ(content(a).iconImage.size(), QSize(10, 5));
    EXPECT_EQ(content(a).iconImage.pixelColor(0, 0), QColor(247, 148, 30));
    EXPECT_EQ(content(a).title.colour, QColor::fromRgbF(0.6F, 0.6F, 0.6F));
    // A warned patch gets the warning picture; an incompatible one a title of its own colour, which
    // still reads on the pool and on its selection bar.
    const QColor normal = content(a).title.colour;
    a->isWarning = true;
    a->isIncompatible = true;
    EXPECT_FALSE(content(a).statusImage.isNull());
    const QColor incompatible = content(a).title.colour;
    EXPECT_NE(incompatible, normal);
    EXPECT_GE(testing_app::contrastRatio(incompatible, QColor(30, 45, 75)), 4.5);
    const QImage bar = NamedImages::image(CustomCellForAttributedString::selectionImageName(false, 1));
    EXPECT_GE(testing_app::contrastRatio(incompatible, bar.pixelColor(bar.width() / 2, bar.height() / 2)), 4.3);
    EXPECT_TRUE(content(b).statusImage.isNull());
    EXPECT_FALSE(model->hasChildren(model->indexOf(empty.get())));
}

// Both panes have their titled header, as tall as each other, so their first rows start level.
TEST_F(PatchPoolOutlineViewTest, ThePoolShowsItsHeaderAndItsRowsStartLevelWithTheList)
{
    QHeaderView* header = pool->header();
    ASSERT_FALSE(pool->isHeaderHidden());
    EXPECT_TRUE(header->isVisible());
    EXPECT_EQ(header->height(), screen->patchManagerTableView()->horizontalHeader()->height());
    EXPECT_EQ(pool->model()->headerData(0, Qt::Horizontal).toString(), InterfaceTexts::localizedString("PatchPool_Title"));
    QWidget* view = screen->view();
    CustomTableViewForPatch& list = *screen->patchManagerTableView();
    const int listTop = list.viewport()->mapTo(view, list.visualRect(list.model()->index(0, 0)).topLeft()).y();
    const int poolTop = pool->viewport()->mapTo(view, pool->visualRect(pool->indexForRow(0)).topLeft()).y();
    EXPECT_EQ(poolTop, listTop);
}

}  // namespace

// An input method's composition in a pool name: a huge one shows only as far as the name's room, and one
// given up, or whose commit the rule refuses, leaves the name that was selected as it began.
TEST(PoolNameEditorInput, ACompositionGivenUpOrRefusedLeavesTheName)
{
    testing_app::application();
    for (const bool group : {false, true}) {
        PoolNameEditor editor(group, "Lead", TextRuleContext{});
        editor.show();
        QInputMethodEvent huge(QString(100000, QLatin1Char('x')), {});
        QCoreApplication::sendEvent(&editor, &huge);
        QInputMethodEvent givenUp(QString(), {});
        QCoreApplication::sendEvent(&editor, &givenUp);
        EXPECT_EQ(editor.text(), QStringLiteral("Lead")) << group;
        EXPECT_EQ(editor.selectedText(), QStringLiteral("Lead")) << group;

        // A commit past the name's room, and one of a megabyte: the field shows the name again, selected
        // as it was, so Return keeps it without a word.
        for (const int length : {group ? 51 : 11, 1 << 20}) {
            QInputMethodEvent composing(QStringLiteral("ab"), {});
            QCoreApplication::sendEvent(&editor, &composing);
            QInputMethodEvent refused;
            refused.setCommitString(QString(length, QLatin1Char('y')));
            QCoreApplication::sendEvent(&editor, &refused);
            EXPECT_EQ(editor.text(), QStringLiteral("Lead")) << group << " " << length;
            EXPECT_EQ(editor.selectedText(), QStringLiteral("Lead")) << group << " " << length;
        }
        EXPECT_EQ(editor.textShouldEndEditing(), "Lead") << group;

        QInputMethodEvent taken;
        editor.selectAll();
        taken.setCommitString(QStringLiteral("Solo"));
        QCoreApplication::sendEvent(&editor, &taken);
        EXPECT_EQ(editor.textShouldEndEditing(), "Solo") << group;
    }
}
