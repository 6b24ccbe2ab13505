#include <gtest/gtest.h>

#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include <functional>
#include <numeric>

#include "app/controls/RightClickButton.h"
#include "app/patch/BankColorTable.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/PatchCommentCellView.h"
#include "app/patch/PatchNameCellView.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListTableModel.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/SelectionAction.h"
#include "support/app/Contrast.h"
#include "PatchCases.h"

namespace testing_app {
namespace {

using Texts = std::pair<std::string, std::string>;  // a record's old and new text

// The menu's questions and buttons, logged.
class FakeRightClick final : public TableViewForPatchRightClickDelegate {
public:
    explicit FakeRightClick(CallLog& log) : log_(log) {}
    void didClickOnSavingInPatchPoolButtonAtIndex(CustomTableViewForPatch&, std::uint64_t row) override { add("save", row); }
    void didClickOnReadingFromPatchPoolButtonAtIndex(CustomTableViewForPatch&, std::uint64_t row) override { add("read", row); }
    void didClickOnUndoButtonAtIndex(CustomTableViewForPatch&, std::uint64_t row) override { add("undo", row); }
    void didClickOnPropertyButtonAtIndex(CustomTableViewForPatch&, std::uint64_t row) override { add("property", row); }
    std::shared_ptr<PatchItem> patchItemForRightClickAtIndex(CustomTableViewForPatch&, std::uint64_t row) override
    {
        auto item = std::make_shared<PatchItem>();
        item->patchName = "row" + std::to_string(row);
        return item;
    }
    bool tableViewCanReadFromPatchPool(CustomTableViewForPatch&) override { return false; }
    bool tableViewCanSaveToPatchPool(CustomTableViewForPatch&) override { return true; }

private:
    void add(const char* what, std::uint64_t row) { log_.push_back(std::string(what) + " " + std::to_string(row)); }
    CallLog& log_;
};

class CustomTableViewForPatchTest : public PatchScreenCases {
protected:
    CustomTableViewForPatchTest()
    {
        screen->view()->resize(900, 700);
        screen->view()->show();
        activate();
    }
    ~CustomTableViewForPatchTest() override { QApplication::clipboard()->clear(); }

    bool activate() { return testing_app::activate(*screen->view()); }
    void click(int row, int column, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        testing_app::click(list().viewport(), cell(row, column), button, modifiers);
    }
    QPoint cell(int row, int column) { return list().visualRect(list().model()->index(row, column)).center(); }
    void send(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        mouse(list().viewport(), type, at, Qt::LeftButton, modifiers);
    }
    void pressF2() { key(&list(), Qt::Key_F2, Qt::NoModifier, {}, QEvent::KeyRelease); }
    QWidget* editor() { return screen->patchListDelegate()->editor(); }
    // Clicks the cell and presses F2: the name's or the comment's editor, if one opened.
    template <typename Editor = QWidget>
    Editor* edit(int row, int column)
    {
        click(row, column);
        pressF2();
        return qobject_cast<Editor*>(editor());
    }
    bool editorCloses() { return processEventsUntil([&] { return editor() == nullptr; }); }
    std::size_t selectionRecords() const
    {
        return std::count_if(undo.actionStack().begin(), undo.actionStack().end(),
                             [](const auto& action) { return dynamic_cast<const SelectionAction*>(action.get()) != nullptr; });
    }
    bool menuShown() { return list().menuPopover() && list().menuPopover()->isVisible(); }
};

TEST_F(CustomTableViewForPatchTest, CtrlASelectsEveryRowWithoutARecord)
{
    key(&list(), Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
    Rows all(30);
    std::iota(all.begin(), all.end(), 0u);
    EXPECT_EQ(list().selectionList(), all);
    EXPECT_EQ(list().selectedRows(), all);
    EXPECT_EQ(records(), 0u);
}

TEST_F(CustomTableViewForPatchTest, AClickSelectsAFilledRowOnceAndTellsTheDevice)
{
    load(10);
    click(4, 2);
    EXPECT_EQ(list().selectedRows(), Rows{4});
    EXPECT_EQ(list().selectionList(), Rows{4});
    EXPECT_EQ(list().previousSelectedColumn(), 2u);
    EXPECT_EQ(log, Names{"selectPatchItem P4 4"});
    EXPECT_EQ(selectionRecords(), 1u);
    click(4, 1);
    EXPECT_EQ(selectionRecords(), 1u) << "the only selected row again changes nothing";
    click(20, 1);
    EXPECT_EQ(list().selectedRows(), Rows{4}) << "a filler row cannot be selected";
    key(&list(), Qt::Key_Down);
    EXPECT_EQ(list().selectedRows(), Rows{4}) << "no arrow-key navigation";
    screen->setlockPatchList(true);
    click(6, 1);
    EXPECT_EQ(list().selectedRows(), Rows{4});
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(CustomTableViewForPatchTest, F2EditsTheCurrentRowsNameOrComment)
{
    load(10);
    pressF2();
    EXPECT_EQ(editor(), nullptr) << "nothing selected";
    QLineEdit* name = edit<QLineEdit>(3, 0);
    ASSERT_NE(name, nullptr) << "the bank column edits the name";
    EXPECT_EQ(name->text().toStdString(), "P3");
    key(name, Qt::Key_Escape);
    ASSERT_TRUE(editorCloses());
    QPlainTextEdit* comment = edit<QPlainTextEdit>(5, 2);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->toPlainText().toStdString(), "C5");
    key(comment, Qt::Key_Escape);
    ASSERT_TRUE(editorCloses());
    // The current row taken out of the selection is not edited.
    selectList({1, 2});
    list().setPreviousSelectedRow(5);
    pressF2();
    EXPECT_EQ(editor(), nullptr);
}

TEST_F(CustomTableViewForPatchTest, TypingANameGoesThroughTheNameRuleAndAPasteTheRuleRefusesIsNotPasted)
{
    load(10);
    auto* line = edit<QLineEdit>(2, 1);
    ASSERT_NE(line, nullptr);
    line->setFocus();
    typeText(QStringLiteral("ABCDEFGHIJKL"), line);
    EXPECT_EQ(line->text().toStdString(), "ABCDEFGHIJ") << "ten bytes at most";
    line->clear();
    for (const char* pasted : {"XY", "far too long for a name"}) {
        QApplication::clipboard()->setText(QString::fromUtf8(pasted));
        key(line, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
        EXPECT_EQ(line->text().toStdString(), "XY") << pasted;
    }
}

// Tab edits no other cell.
TEST_F(CustomTableViewForPatchTest, EscapeGivesTheNameBackAndReturnCtrlReturnAndTabCommitIt)
{
    const struct {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* text;
        const char* name;
    } cases[] = {
        {"Escape", Qt::Key_Escape, Qt::NoModifier, "", "P6"},
        {"Return", Qt::Key_Return, Qt::NoModifier, "", "Line"},
        {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, "", "Line"},
        {"Tab", Qt::Key_Tab, Qt::NoModifier, "\t", "Line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(10);
        auto* line = edit<QLineEdit>(6, 1);
        ASSERT_NE(line, nullptr);
        line->setFocus();
        line->selectAll();
        typeText(QStringLiteral("Line"), line);
        ASSERT_EQ(line->text().toStdString(), "Line");
        log.clear();
        key(line, c.key, c.modifiers, QString::fromUtf8(c.text));
        ASSERT_TRUE(editorCloses());
        EXPECT_EQ(screen->patchItems()[6]->patchName, c.name);
        EXPECT_EQ(list().model()->index(6, 1).data().toString().toStdString(), c.name);
        const Names committed{"editFilePatch Line|C6", "writeItem 6", "setReloadBufferDataTimer"};
        EXPECT_EQ(log, std::string(c.name) == "P6" ? Names{} : committed);
        EXPECT_EQ(list().model()->index(7, 1).data().toString().toStdString(), "P7") << "no edit of the next cell";
    }
}

TEST_F(CustomTableViewForPatchTest, ReturnAndTabGoIntoACommentAndLeavingTheFieldCommitsIt)
{
    load(10);
    auto* text = edit<QPlainTextEdit>(1, 2);
    ASSERT_NE(text, nullptr);
    text->setFocus();
    text->moveCursor(QTextCursor::End);
    key(text, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    typeText(QStringLiteral("x"), text);
    key(text, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    EXPECT_EQ(text->toPlainText().toStdString(), "C1\nx\t");
    EXPECT_NE(editor(), nullptr) << "still editing";
    EXPECT_EQ(screen->patchItems()[1]->patchComment, "C1");
    list().setFocus();
    ASSERT_TRUE(editorCloses());
    EXPECT_EQ(screen->patchItems()[1]->patchComment, "C1\nx\t");
}

// Each row's bank cell and name cell are filled with the row's one bank colour, selected or not.
TEST_F(CustomTableViewForPatchTest, TheBankCellTakesTheNameCellsBankColour)
{
    load(10, 4);
    selectList({5});
    spin();
    const QImage shot = list().viewport()->grab().toImage();
    for (int row = 0; row < 10; ++row) {
        const QColor expected = *BankColorTable::colorOfRow(static_cast<std::uint64_t>(row), 4);
        for (const int column : {int(PatchListTableModel::BankColumn), int(PatchListTableModel::PatchColumn)}) {
            // Just inside the cell's fill, clear of the text and of a selected row's frame.
            const QRect cell = list().visualRect(list().model()->index(row, column));
            const QPoint inside(cell.right() - PatchListItemDelegate::kCellInset - 3, cell.bottom() - PatchListItemDelegate::kCellInset - 3);
            EXPECT_EQ(shot.pixelColor(inside).name().toStdString(), expected.name().toStdString()) << "row " << row << " column " << column;
        }
    }
}

// The comment's text stays where the cell showed it; the large bold names read 3:1 on their highlight.
TEST_F(CustomTableViewForPatchTest, AnEditedCommentIsBlackOnWhiteInItsPlaceAndAnEditedNameReadsOnItsHighlight)
{
    load(10);
    screen->patchItems()[1]->patchComment = "MMMMMMMM";
    screen->reloadDataInPatchList();
    // The first row and column holding ink: bright on the idle row, dark in the editor.
    const auto inkAt = [](const QImage& shot, bool bright) {
        const auto ink = [&](int x, int y) { return bright ? qGray(shot.pixel(x, y)) > 160 : qGray(shot.pixel(x, y)) < 100; };
        QPoint first(-1, -1);
        for (int y = 0; y < shot.height() && first.y() < 0; ++y)
            for (int x = 0; x < shot.width() && first.y() < 0; ++x)
                if (ink(x, y)) first.setY(y);
        for (int x = 0; x < shot.width() && first.x() < 0; ++x)
            for (int y = 0; y < shot.height() && first.x() < 0; ++y)
                if (ink(x, y)) first.setX(x);
        return first;
    };
    const int inset = PatchListItemDelegate::kCellInset;
    const QRect cell = list().visualRect(list().model()->index(1, 2));
    const QPoint idleInk = inkAt(list().viewport()->grab(cell.adjusted(inset, inset, -inset, -inset)).toImage(), true);
    ASSERT_GE(idleInk.y(), 0);
    auto* text = edit<QPlainTextEdit>(1, 2);
    ASSERT_NE(text, nullptr);
    text->setFocus();
    ASSERT_TRUE(processEventsUntil([&] { return text->hasFocus(); }));
    // The editor places its text at its first paint and moves it on the next turn: a paint is asked for.
    text->grab();
    processEventsUntil([&] { return text->viewport()->y() > text->frameWidth(); });
    const QImage shot = text->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white));
    EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() - 3), QColor(Qt::white));
    int darkest = 255;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) darkest = std::min(darkest, qGray(shot.pixel(x, y)));
    EXPECT_LT(darkest, 60) << "black text";
    const QPoint editedInk = inkAt(shot, false);
    EXPECT_NEAR(editedInk.y(), idleInk.y(), 1);
    EXPECT_NEAR(editedInk.x(), idleInk.x(), 1);
    key(text, Qt::Key_Escape);
    ASSERT_TRUE(editorCloses());
    auto* line = edit<QLineEdit>(3, 1);
    ASSERT_NE(line, nullptr);
    line->selectAll();
    const QImage name = line->grab().toImage();
    EXPECT_GE(selectedTextContrast(name, name.pixelColor(name.width() - 5, name.height() / 2)), 3.0);
    key(line, Qt::Key_Escape);
}

// Another window taking the keys is no gesture here: the edit goes on when the keys come back, and the
// comment keeps its editing look (also back from a popup), never the idle white a connected unit's list
// gives ended editors.
TEST_F(CustomTableViewForPatchTest, AnotherWindowTakingTheKeysLeavesTheEditOpenUncommittedAndLegible)
{
    AppDelegate& app = AppDelegate::getInstance();
    app.setDeviceConnected(true);
    const struct Disconnect {
        AppDelegate& app;
        ~Disconnect() { app.setDeviceConnected(false); }
    } disconnect{app};
    for (const int column : {1, 2}) {
        SCOPED_TRACE(column);
        load(10);
        const auto item = screen->patchItems()[2];
        const Names before{item->patchName, item->patchComment};
        QWidget* typing = edit(2, column);
        ASSERT_NE(typing, nullptr);
        typing->setFocus();
        // The user types once the field shows, its name selected on its next turn.
        QCoreApplication::processEvents();
        key(typing, Qt::Key_A, Qt::ControlModifier);
        typeText(QStringLiteral("Lea"), typing);
        // Columns of the comment showing what reads on its white: the text spans many, the caret one or two.
        const auto legible = [&] {
            if (column == 1) return true;
            const QImage shot = typing->grab().toImage();
            int columns = 0;
            for (int x = 0; x < shot.width(); ++x) {
                bool dark = false;
                for (int y = 0; y < shot.height() && !dark; ++y) dark = contrastRatio(QColor(shot.pixel(x, y)), Qt::white) >= 4.5;
                columns += dark;
            }
            return columns > 10;
        };
        ASSERT_TRUE(legible());
        log.clear();
        QWidget other;
        ASSERT_TRUE(activateAnotherWindow(other));
        ASSERT_EQ(editor(), typing);
        EXPECT_EQ((Names{item->patchName, item->patchComment}), before);
        EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
        ASSERT_TRUE(activate());
        EXPECT_EQ(QApplication::focusWidget(), typing);
        EXPECT_GE(contrastRatio(typing->palette().color(QPalette::Text), typing->palette().color(QPalette::Base)), 4.5);
        EXPECT_TRUE(legible());
        typeText(QStringLiteral("d"), typing);
        EXPECT_TRUE(legible());
        // The events Qt sends the focused control as a popup opens and closes.
        QFocusEvent lent(QEvent::FocusOut, Qt::PopupFocusReason), back(QEvent::FocusIn, Qt::PopupFocusReason);
        QApplication::sendEvent(typing, &lent);
        QApplication::sendEvent(typing, &back);
        ASSERT_EQ(editor(), typing);
        EXPECT_TRUE(legible());
        list().setFocus();
        ASSERT_TRUE(editorCloses());
        EXPECT_EQ(column == 1 ? item->patchName : item->patchComment, "Lead");
    }
}

// A reload closes every editor: the one being typed opens again on its patch, wherever it now is.
TEST_F(CustomTableViewForPatchTest, ANameOrCommentBeingTypedOutlivesAReloadOfTheList)
{
    for (const int column : {1, 2}) {
        SCOPED_TRACE(column);
        load(10);
        const auto typedOn = screen->patchItems()[4];
        ASSERT_NE(edit(4, column), nullptr);
        editor()->setFocus();
        key(editor(), Qt::Key_A, Qt::ControlModifier);
        typeText(QStringLiteral("Le"), editor());
        log.clear();
        screen->reloadDataInPatchList();
        ASSERT_NE(editor(), nullptr);
        EXPECT_EQ(QApplication::focusWidget(), editor());
        typeText(QStringLiteral("a"), editor());
        // The patch moves two rows down under the typing.
        screen->didChangePositionFromRowIndexSet(list(), {4}, 7);
        ASSERT_EQ(screen->patchItems()[6], typedOn);
        ASSERT_NE(editor(), nullptr);
        typeText(QStringLiteral("d"), editor());
        EXPECT_EQ(column == 1 ? qobject_cast<QLineEdit*>(editor())->text().toStdString()
                              : qobject_cast<QPlainTextEdit*>(editor())->toPlainText().toStdString(),
                  "Lead");
        log.clear();
        list().setFocus();
        ASSERT_TRUE(editorCloses());
        EXPECT_EQ(column == 1 ? typedOn->patchName : typedOn->patchComment, "Lead");
        EXPECT_EQ(log.at(1), "writeItem 6") << testing::PrintToString(log);
    }
}

TEST_F(CustomTableViewForPatchTest, ARightClickSelectsItsRowAloneUnlessSelectedThenOpensItsMenu)
{
    load(10);
    FakeRightClick menu(log);
    list().setRightClickDelegate(&menu);
    selectList({1, 2});
    click(2, 1, Qt::RightButton);
    EXPECT_EQ(list().selectedRows(), (Rows{1, 2})) << "a selected row keeps the selection";
    EXPECT_EQ(selectionRecords(), 0u);
    ASSERT_NE(list().optionMenu(), nullptr);
    EXPECT_EQ(list().optionMenu()->targetIndex(), 2u);
    EXPECT_TRUE(menuShown());
    click(5, 2, Qt::RightButton);
    EXPECT_EQ(list().selectedRows(), Rows{5});
    EXPECT_EQ(list().selectionList(), Rows{5});
    ASSERT_EQ(selectionRecords(), 1u);
    EXPECT_EQ(lastRecord<SelectionAction>()->previousSelectionList, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(log, Names{"selectPatchItem P5 5"});
    OptionMenuForPatchViewController* shown = list().optionMenu();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->targetIndex(), 5u);
    EXPECT_EQ(shown->patchItem()->patchName, "row5");
    EXPECT_TRUE(shown->savingInPatchPoolButton()->isEnabled());
    EXPECT_FALSE(shown->readingInPatchPoolButton()->isEnabled());
    log.clear();
    using Button = std::function<QPushButton*(OptionMenuForPatchViewController&)>;
    for (const auto& [press, expected] : std::vector<std::pair<Button, std::string>>{
             {[](auto& m) { return m.savingInPatchPoolButton(); }, "save 5"},
             {[](auto& m) { return m.undoButton(); }, "undo 5"},
             {[](auto& m) { return m.propertyButton(); }, "property 5"}}) {
        click(5, 1, Qt::RightButton);
        ASSERT_NE(list().optionMenu(), nullptr);
        press(*list().optionMenu())->click();
        EXPECT_EQ(log.back(), expected);
        EXPECT_FALSE(menuShown()) << expected;
    }
}

// Ctrl picks rows here, so the Control-click that counts as a right click is the one Qt names Meta.
TEST_F(CustomTableViewForPatchTest, AControlClickIsARightClickAndCtrlStillPicksRows)
{
    load(10);
    FakeRightClick menu(log);
    list().setRightClickDelegate(&menu);
    click(1, 1);
    click(3, 1, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(list().selectedRows(), (Rows{1, 3}));
    EXPECT_FALSE(menuShown());
    click(3, 1, Qt::LeftButton, Qt::MetaModifier);
    EXPECT_EQ(list().selectedRows(), (Rows{1, 3})) << "a selected row keeps the selection";
    ASSERT_NE(list().optionMenu(), nullptr);
    EXPECT_EQ(list().optionMenu()->targetIndex(), 3u);
    EXPECT_TRUE(menuShown());
    click(6, 2, Qt::LeftButton, Qt::MetaModifier);
    EXPECT_EQ(list().selectedRows(), Rows{6});
    EXPECT_EQ(list().optionMenu()->targetIndex(), 6u);
    // Under a sheet it opens nothing, as a right click.
    list().closeRightClickMenu();
    appDelegate.setIsShowingDialog(true);
    click(2, 1, Qt::LeftButton, Qt::MetaModifier);
    appDelegate.setIsShowingDialog(false);
    EXPECT_FALSE(menuShown());
    EXPECT_EQ(list().selectedRows(), Rows{6});
}

TEST_F(CustomTableViewForPatchTest, NoMenuOnAFillerRowWhileLockedOrWhileADialogShowsAndScrollingClosesIt)
{
    load(10);
    FakeRightClick menu(log);
    list().setRightClickDelegate(&menu);
    click(15, 1, Qt::RightButton);
    EXPECT_EQ(list().menuPopover(), nullptr);
    appDelegate.setIsShowingDialog(true);
    click(3, 1, Qt::RightButton);
    EXPECT_EQ(list().menuPopover(), nullptr);
    appDelegate.setIsShowingDialog(false);
    screen->setlockPatchList(true);
    click(3, 1, Qt::RightButton);
    EXPECT_EQ(list().menuPopover(), nullptr);
    EXPECT_TRUE(list().selectedRows().empty());
    screen->setlockPatchList(false);
    load(100);
    click(1, 1, Qt::RightButton);
    ASSERT_TRUE(menuShown());
    list().verticalScrollBar()->setValue(list().verticalScrollBar()->value() + 40);
    EXPECT_FALSE(menuShown());
}

TEST(CustomTableViewForPatchRuler, ShowsOnlyWhenTheRowsReachBeyondTheVisibleArea)
{
    application();
    AppDelegate appDelegate;
    platform::NotificationCenter center;
    UndoController undo(center, [] {});
    std::vector<std::shared_ptr<PatchItem>> patches;
    std::vector<std::shared_ptr<BankItem>> banks;
    PatchListTableModel model(patches, banks);
    CustomTableViewForPatch table(appDelegate, undo);
    table.setModel(&model);
    table.show();
    const int chrome = table.height() - table.viewport()->height();
    // Thirty rows of 55 points are 1650 points.
    for (const auto& [visible, expanded] : {std::pair{1650, false}, std::pair{1700, false}, std::pair{1649, true}, std::pair{400, true}}) {
        table.resize(600, visible + chrome);
        ASSERT_EQ(table.viewport()->height(), visible);
        EXPECT_EQ(table.isExpandedOverView(), expanded) << visible;
        table.reloadData();
        EXPECT_EQ(table.rulerVisible(), expanded) << visible;
    }
}

TEST_F(CustomTableViewForPatchTest, ShiftSelectsARangeAndCtrlZPutsTheSelectionBack)
{
    load(12);
    click(5, 1);
    click(2, 1, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(list().selectedRows(), (Rows{2, 3, 4, 5}));
    EXPECT_EQ(list().selectionList(), (Rows{5, 4, 3, 2}));
    click(8, 1, Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(list().selectedRows(), (Rows{5, 6, 7, 8}));

    log.clear();
    key(&list(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
    EXPECT_EQ(list().selectedRows(), (Rows{2, 3, 4, 5}));
    // The row that was current goes to the device again.
    EXPECT_EQ(log, (std::vector<std::string>{"selectPatchItem P2 2"}));
    key(&list(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
    EXPECT_EQ(list().selectedRows(), (Rows{5}));
    key(&list(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
    EXPECT_TRUE(list().selectedRows().empty());
}

// The screen empties the selection with an empty set (after a copy that placed nothing): the ordered
// selection goes with it, so undoing the next click neither reselects the old row nor sends it to the unit.
TEST_F(CustomTableViewForPatchTest, AnEmptySelectionSetByTheScreenEmptiesTheOrderedSelectionToo)
{
    load(12);
    click(5, 1);
    list().setUpCurrentSelectionWithIndexSet({}, false);
    EXPECT_TRUE(list().selectedRows().empty());
    EXPECT_TRUE(list().selectionList().empty());
    click(2, 1);
    log.clear();
    key(&list(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
    EXPECT_TRUE(list().selectedRows().empty());
    EXPECT_TRUE(log.empty());
}

TEST_F(CustomTableViewForPatchTest, ADoubleClickEditsAnyColumnButTheBanks)
{
    load(12);
    for (const auto& [row, column, edits] : {std::tuple{4, PatchListTableModel::BankColumn, false},
                                             {6, PatchListTableModel::PatchColumn, true}}) {
        click(row, column);
        send(QEvent::MouseButtonDblClick, cell(row, column));
        send(QEvent::MouseButtonRelease, cell(row, column));
        EXPECT_EQ(list().selectedRows(), (Rows{static_cast<std::uint64_t>(row)}));
        EXPECT_EQ(editor() != nullptr, edits) << row;
    }
}

TEST_F(CustomTableViewForPatchTest, AMoveUnderTwoPointsIsStillAClickAndADragSelectsItsRowFirst)
{
    load(12);
    click(1, 1);
    QPoint at = cell(4, 1);
    send(QEvent::MouseButtonPress, at);
    send(QEvent::MouseMove, at + QPoint(1, 1));
    send(QEvent::MouseButtonRelease, at + QPoint(1, 1));
    EXPECT_EQ(list().selectedRows(), (Rows{4}));

    const auto records = undo.actionStack().size();
    at = cell(9, 1);
    send(QEvent::MouseButtonPress, at, Qt::ControlModifier);
    send(QEvent::MouseMove, at + QPoint(0, 3), Qt::ControlModifier);
    send(QEvent::MouseButtonRelease, at + QPoint(0, 3), Qt::ControlModifier);
    EXPECT_EQ(list().selectedRows(), (Rows{4, 9}));
    EXPECT_EQ(undo.actionStack().size(), records + 1);
}

// The list as the screen draws it, every patch warned.
TEST_F(CustomTableViewForPatchTest, TheWarningSignReadsAtLeastThreeToOneOnEveryBankColourAndKeepsItsOrange)
{
    const QColor orange(245, 147, 31);
    // Four slots a bank: forty rows show every bank colour, plain and darker.
    load(40, 4);
    for (const auto& patch : screen->patchItems()) patch->isWarning = true;
    screen->reloadDataInPatchList();
    CustomTableViewForPatch& table = list();
    for (int row = 0; row < 40; ++row) {
        const QColor bank = *BankColorTable::colorOfRow(static_cast<std::uint64_t>(row), 4);
        SCOPED_TRACE("row " + std::to_string(row) + " " + bank.name().toStdString());
        const QModelIndex name = table.model()->index(row, PatchListTableModel::PatchColumn);
        table.scrollTo(name);
        // The sign sits at the name cell's right end, clear of the name.
        const QRect cell = table.visualRect(name).adjusted(PatchListItemDelegate::kCellInset, PatchListItemDelegate::kCellInset,
                                                           -PatchListItemDelegate::kCellInset,
                                                           -PatchListItemDelegate::kCellInset);
        const QImage drawn = table.viewport()->grab(cell.adjusted(cell.width() - 40, 0, 0, 0)).toImage();
        ASSERT_EQ(drawn.pixelColor(1, 1).rgb(), bank.rgb()) << "the cell's fill";
        // Across each line of the sign's body, from the row in to the orange, from either side: the
        // edge crossed there stands out from the row (the white mark inside does not count: the sign's
        // shape is its edge). The orange alone reads 2.6:1 on the darker purple rows, 1.1:1 on the
        // orange ones.
        int bodyLines = 0;
        bool orangeKept = false;
        for (int y = 0; y < drawn.height(); ++y) {
            const auto isOrange = [&](int x) { return drawn.pixelColor(x, y).rgb() == orange.rgb(); };
            int first = 0;
            while (first < drawn.width() && !isOrange(first)) ++first;
            if (first == drawn.width()) continue;
            orangeKept = true;
            int last = drawn.width() - 1;
            while (!isOrange(last)) --last;
            const auto edge = [&](int from, int to, int step) {
                double best = 1;
                for (int x = from; x != to; x += step)
                    best = std::max(best, testing_app::contrastRatio(drawn.pixelColor(x, y), bank));
                return best;
            };
            ++bodyLines;
            EXPECT_GE(edge(0, first, 1), 3.0) << "left edge, line " << y;
            EXPECT_GE(edge(drawn.width() - 1, last, -1), 3.0) << "right edge, line " << y;
        }
        EXPECT_GE(bodyLines, 8);
        EXPECT_TRUE(orangeKept) << "the sign's body is the orange it always was";
    }
}

// ---- the name and comment cells' commits ----

class PatchCellsTest : public PatchScreenRig {
protected:
    PatchCellContext context() { return {coordinator, dialogs, undo, appDelegate, textRules, nullptr}; }
    template <typename Cell>
    Cell cellFor(const std::shared_ptr<PatchItem>& item, std::uint64_t index)
    {
        Cell cell(context());
        cell.clearCell();
        cell.setPatchItem(item);
        cell.setIndex(index);
        return cell;
    }
    const ChangeTextAction* record(std::size_t at) const
    {
        return at < undo.actionStack().size() ? dynamic_cast<const ChangeTextAction*>(undo.actionStack()[at].get()) : nullptr;
    }
};

// A name commits only when its rule (which shows its own message, once) and the file take it; a comment
// takes any text within its limits, which hold when the edit ends too, whatever way the text came in.
// The slot written is the cell's, whatever the patch's place elsewhere.
TEST_F(PatchCellsTest, AnEditCommitsOnlyWhenTheRulesAndTheFileTakeIt)
{
    const struct {
        bool comment;
        std::string typed;
        bool fileWritten;
        std::string kept;  // in the field and the patch
        std::vector<std::string> log;
    } cases[] = {
        {false, "Clean", true, "Clean", {}},
        {false, "", true, "Clean", {"rule Patch_InvalidPatchName"}},
        {false, "Cl/ean", true, "Clean", {"rule Patch_InvalidPatchName"}},
        {false, "Caf\xC3\xA9", true, "Clean", {"rule Patch_NonAsciiPatchName"}},
        {false, "CleanCleanX", true, "Clean", {"rule Patch_LongPatchName"}},
        {false, "Lead", false, "Clean", {"editFilePatch Lead|old", "info Patch_CanNotEditPatchItem Clean"}},
        {false, "Lead", true, "Lead", {"editFilePatch Lead|old", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "old", true, "old", {}},
        {true, "", true, "", {"editFilePatch Clean|", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "two\nlines", true, "two\nlines", {"editFilePatch Clean|two\nlines", "writeItem 7", "setReloadBufferDataTimer"}},
        {true, "new", false, "old", {"editFilePatch Clean|new", "info Patch_CanNotEditPatchItem Clean"}},
        {true, "\xE6\xBC\xA2", true, "old", {"rule Patch_NonAsciiPatchComment"}},
        {true, std::string("a\0b", 3), true, "old", {"rule Patch_NulInPatchComment"}},
        {true, std::string(201, 'a'), true, "old", {"rule Patch_LongPatchComment"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        log.clear();
        undo.clearUndoStack();
        coordinator.editSucceeds = c.fileWritten;
        const auto item = patch("Clean", "old");
        const auto end = [&](auto cell) {
            std::string field = c.typed;
            EXPECT_TRUE(cell.textShouldEndEditing(field));
            EXPECT_EQ(field, c.kept);
            EXPECT_EQ(cell.originalText(), c.kept) << "the field starts from the committed text next time";
        };
        c.comment ? end(cellFor<PatchCommentCellView>(item, 7)) : end(cellFor<PatchNameCellView>(item, 7));
        EXPECT_EQ(c.comment ? item->patchComment : item->patchName, c.kept);
        EXPECT_EQ(log, c.log);
        const std::string original = c.comment ? "old" : "Clean";
        ASSERT_EQ(undo.actionStack().size(), c.kept != original ? 1u : 0u);
        if (c.kept == original) continue;
        EXPECT_EQ(std::tuple(record(0)->mType, record(0)->mOldText, record(0)->mNewText),
                  std::tuple(c.comment ? 2 : 1, original, c.typed));
        EXPECT_EQ(std::get<std::shared_ptr<PatchItem>>(record(0)->mItem), item);
    }
}

TEST_F(PatchCellsTest, TwoEditsOfANameLeaveTwoRecords)
{
    auto cell = cellFor<PatchNameCellView>(patch("One"), 0);
    std::string first = "Two", second = "Three";
    cell.textShouldEndEditing(first);
    cell.textShouldEndEditing(second);
    ASSERT_EQ(undo.actionStack().size(), 2u);
    EXPECT_EQ(std::pair(record(0)->mOldText, record(0)->mNewText), Texts("Two", "Three"));
    EXPECT_EQ(std::pair(record(1)->mOldText, record(1)->mNewText), Texts("One", "Two"));
}

// The file's encoding stores a wave dash as a full-width tilde.
TEST_F(PatchCellsTest, AfterTheWriteTheCellAndTheRecordShowWhatTheFileHolds)
{
    coordinator.storedComment = "\xEF\xBD\x9E";
    textRules.language = "ja";
    const auto item = patch("Name", "old");
    auto cell = cellFor<PatchCommentCellView>(item, 3);
    std::string field = "\xE3\x80\x9C";
    EXPECT_TRUE(cell.textShouldEndEditing(field));
    EXPECT_EQ(field, "\xEF\xBD\x9E");
    EXPECT_EQ(item->patchComment, "\xEF\xBD\x9E");
    EXPECT_EQ(cell.originalText(), "\xEF\xBD\x9E");
    ASSERT_EQ(undo.actionStack().size(), 1u);
    EXPECT_EQ(std::pair(record(0)->mOldText, record(0)->mNewText), Texts("old", "\xEF\xBD\x9E"));
}

TEST_F(PatchCellsTest, AFailedCommentEndsItsEditWithTheColoursCleared)
{
    appDelegate.setDeviceConnected(true);
    QLineEdit field;
    QPalette black = field.palette();
    black.setColor(QPalette::Text, Qt::black);
    field.setPalette(black);
    appDelegate.setEditingTextField(&field);
    coordinator.editSucceeds = false;
    auto cell = cellFor<PatchCommentCellView>(patch("Name", "old"), 3);
    std::string text = "new";
    cell.textShouldEndEditing(text);
    EXPECT_EQ(field.palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(cell.originalText(), "old");
}

TEST_F(PatchCellsTest, ACellWithoutAPatchCommitsNothing)
{
    PatchNameCellView name(context());
    PatchCommentCellView comment(context());
    std::string a = "x", b = "y";
    EXPECT_TRUE(name.textShouldEndEditing(a));
    EXPECT_TRUE(comment.textShouldEndEditing(b));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(undo.actionStack().empty());
}

}  // namespace
}  // namespace testing_app
