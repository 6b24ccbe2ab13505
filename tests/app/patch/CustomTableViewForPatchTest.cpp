#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls/ChangingColorWhenEditingTextView.h"
#include "app/controls/RightClickButton.h"
#include "app/patch/BankColorTable.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/PatchListTableModel.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/SelectionAction.h"
#include "support/app/Contrast.h"
#include "support/app/PatchScreenRig.h"

namespace {

// The menu's questions and buttons, logged.
class FakeRightClick final : public TableViewForPatchRightClickDelegate {
public:
    explicit FakeRightClick(testing_app::CallLog& log) : log_(log) {}
    bool canRead = false, canSave = true;
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
    bool tableViewCanReadFromPatchPool(CustomTableViewForPatch&) override { return canRead; }
    bool tableViewCanSaveToPatchPool(CustomTableViewForPatch&) override { return canSave; }

private:
    void add(const char* what, std::uint64_t row) { log_.push_back(std::string(what) + " " + std::to_string(row)); }
    testing_app::CallLog& log_;
};

class CustomTableViewForPatchTest : public testing_app::PatchScreenRig {
protected:
    CustomTableViewForPatchTest()
    {
        screen->view()->resize(900, 700);
        screen->view()->show();
        screen->view()->activateWindow();
        testing_app::processEventsUntil([&] { return screen->view()->isActiveWindow(); });
    }
    ~CustomTableViewForPatchTest() override { QApplication::clipboard()->clear(); }

    CustomTableViewForPatch& table() { return *screen->patchManagerTableView(); }
    QPoint cellCentre(int row, int column)
    {
        return table().visualRect(table().model()->index(row, column)).center();
    }
    void click(int row, int column, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QPoint at = cellCentre(row, column);
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, table().viewport()->mapToGlobal(at), button,
                              type == QEvent::MouseButtonPress ? button : Qt::NoButton, modifiers);
            QApplication::sendEvent(table().viewport(), &event);
        }
    }
    static void key(QWidget* target, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QString text = {},
                    QEvent::Type type = QEvent::KeyPress)
    {
        QKeyEvent event(type, code, modifiers, text);
        QApplication::sendEvent(target, &event);
    }
    static void typeText(QWidget* target, const QString& text)
    {
        for (const QChar character : text) key(target, 0, Qt::NoModifier, QString(character));
    }
    void pressF2() { key(&table(), Qt::Key_F2, Qt::NoModifier, {}, QEvent::KeyRelease); }
    QWidget* editor() { return screen->patchListDelegate()->editor(); }
    std::size_t selectionRecords() const
    {
        std::size_t count = 0;
        for (const auto& action : undo.actionStack()) count += dynamic_cast<const SelectionAction*>(action.get()) != nullptr;
        return count;
    }
};

TEST_F(CustomTableViewForPatchTest, CtrlASelectsEveryRowWithoutARecord)
{
    key(&table(), Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
    std::vector<std::uint64_t> all;
    for (std::uint64_t row = 0; row < 30; ++row) all.push_back(row);
    EXPECT_EQ(table().selectionList(), all);
    EXPECT_EQ(table().selectedRows(), all);
    EXPECT_TRUE(undo.actionStack().empty());
}

// An input method's committed text would select the row whose name starts with it: unrecorded, and the
// unit never told.
TEST_F(CustomTableViewForPatchTest, CommittedInputMethodTextSelectsNoRow)
{
    load(10);
    click(1, 1);
    log.clear();
    undo.clearUndoStack();
    table().setFocus();
    QInputMethodEvent event;
    event.setCommitString(QStringLiteral("P5"));
    QApplication::sendEvent(&table(), &event);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{1});
    EXPECT_TRUE(undo.actionStack().empty());
    EXPECT_TRUE(log.empty()) << testing::PrintToString(log);
}

TEST_F(CustomTableViewForPatchTest, CtrlZUndoesUnlessAllIsBeingRestored)
{
    int undone = 0;
    center.addObserver(UndoController::kUndoChangePosition, nullptr, [&](const platform::Notification&) { ++undone; });
    for (const bool restoring : {true, false}) {
        appDelegate.setIsRestoringAll(restoring);
        undo.addActionStack(std::make_shared<ChangePositionAction>());
        key(&table(), Qt::Key_Z, Qt::ControlModifier, QStringLiteral("z"));
        key(&table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("Z"));
    }
    EXPECT_EQ(undone, 1);
    EXPECT_EQ(undo.actionStack().size(), 1u);
}

TEST_F(CustomTableViewForPatchTest, AClickSelectsAFilledRowOnceAndTellsTheDevice)
{
    load(10);
    click(4, 2);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{4});
    EXPECT_EQ(table().selectionList(), std::vector<std::uint64_t>{4});
    EXPECT_EQ(table().previousSelectedColumn(), 2u);
    EXPECT_EQ(log, std::vector<std::string>{"selectPatchItem P4 4"});
    EXPECT_EQ(selectionRecords(), 1u);

    click(4, 1);
    EXPECT_EQ(selectionRecords(), 1u) << "the only selected row again changes nothing";
    click(20, 1);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{4}) << "a filler row cannot be selected";
    key(&table(), Qt::Key_Down);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{4}) << "no arrow-key navigation";

    screen->setlockPatchList(true);
    click(6, 1);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{4});
    EXPECT_EQ(log.size(), 1u);
}

TEST_F(CustomTableViewForPatchTest, F2EditsTheCurrentRowsNameOrComment)
{
    load(10);
    pressF2();
    EXPECT_EQ(editor(), nullptr) << "nothing selected";

    click(3, 0);
    pressF2();
    ASSERT_NE(qobject_cast<QLineEdit*>(editor()), nullptr) << "the bank column edits the name";
    EXPECT_EQ(qobject_cast<QLineEdit*>(editor())->text().toStdString(), "P3");
    key(editor(), Qt::Key_Escape);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));

    click(5, 2);
    pressF2();
    ASSERT_NE(qobject_cast<QPlainTextEdit*>(editor()), nullptr);
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(editor())->toPlainText().toStdString(), "C5");
    key(editor(), Qt::Key_Escape);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));

    // The current row taken out of the selection is not edited.
    table().setUpCurrentSelectionWithIndexSet({1, 2}, false);
    table().setPreviousSelectedRow(5);
    pressF2();
    EXPECT_EQ(editor(), nullptr);
}

TEST_F(CustomTableViewForPatchTest, TypingANameGoesThroughTheNameRuleAndReturnCommitsIt)
{
    load(10);
    click(2, 1);
    pressF2();
    auto* line = qobject_cast<QLineEdit*>(editor());
    ASSERT_NE(line, nullptr);
    line->setFocus();
    typeText(line, QStringLiteral("ABCDEFGHIJKL"));
    EXPECT_EQ(line->text().toStdString(), "ABCDEFGHIJ") << "ten bytes at most";
    line->clear();
    QApplication::clipboard()->setText(QStringLiteral("XY"));
    key(line, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    EXPECT_EQ(line->text().toStdString(), "XY") << "pasted once";
    QApplication::clipboard()->setText(QStringLiteral("far too long for a name"));
    key(line, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    EXPECT_EQ(line->text().toStdString(), "XY") << "a paste the rule refuses is not pasted";
    log.clear();
    key(line, Qt::Key_Return);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
    EXPECT_EQ(screen->patchItems()[2]->patchName, "XY");
    EXPECT_EQ(log, (std::vector<std::string>{"editFilePatch XY|C2", "writeItem 2", "setReloadBufferDataTimer"}));
    EXPECT_EQ(table().model()->index(2, 1).data().toString().toStdString(), "XY");
}

TEST_F(CustomTableViewForPatchTest, ReturnAndTabGoIntoACommentAndLeavingTheFieldCommitsIt)
{
    load(10);
    click(1, 2);
    pressF2();
    auto* text = qobject_cast<QPlainTextEdit*>(editor());
    ASSERT_NE(text, nullptr);
    text->setFocus();
    text->moveCursor(QTextCursor::End);
    key(text, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    typeText(text, QStringLiteral("x"));
    key(text, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    EXPECT_EQ(text->toPlainText().toStdString(), "C1\nx\t");
    EXPECT_NE(editor(), nullptr) << "still editing";
    EXPECT_EQ(screen->patchItems()[1]->patchComment, "C1");
    table().setFocus();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
    EXPECT_EQ(screen->patchItems()[1]->patchComment, "C1\nx\t");
}

// Each row's bank cell and name cell are filled with the row's one bank colour, selected or not.
TEST_F(CustomTableViewForPatchTest, TheBankCellTakesTheNameCellsBankColour)
{
    load(10, 4);
    table().setUpCurrentSelectionWithIndexSet({5}, false);
    testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(20));
    const QImage shot = table().viewport()->grab().toImage();
    for (int row = 0; row < 10; ++row) {
        const QColor expected = *BankColorTable::colorOfRow(static_cast<std::uint64_t>(row), 4);
        for (const int column : {int(PatchListTableModel::BankColumn), int(PatchListTableModel::PatchColumn)}) {
            // Just inside the cell's fill, clear of the text and of a selected row's frame.
            const QRect cell = table().visualRect(table().model()->index(row, column));
            const QPoint inside(cell.right() - PatchListItemDelegate::kCellInset - 3,
                                cell.bottom() - PatchListItemDelegate::kCellInset - 3);
            EXPECT_EQ(shot.pixelColor(inside).name().toStdString(), expected.name().toStdString())
                << "row " << row << " column " << column;
        }
    }
}

// The comment edited in place reads black on white, as the name does, and its text stays where the cell
// showed it.
TEST_F(CustomTableViewForPatchTest, TheEditedCommentIsBlackOnWhiteAndKeepsItsPlace)
{
    load(10);
    screen->patchItems()[1]->patchComment = "MMMMMMMM";
    screen->reloadDataInPatchList();
    const QRect cell = table().visualRect(table().model()->index(1, 2));
    // The first row and column holding ink: bright on the idle row, dark in the editor.
    const auto inkAt = [](const QImage& shot, bool bright) {
        QPoint first(-1, -1);
        for (int y = 0; y < shot.height() && first.y() < 0; ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (bright ? qGray(shot.pixel(x, y)) > 160 : qGray(shot.pixel(x, y)) < 100) {
                    first.setY(y);
                    break;
                }
        for (int x = 0; x < shot.width() && first.x() < 0; ++x)
            for (int y = 0; y < shot.height(); ++y)
                if (bright ? qGray(shot.pixel(x, y)) > 160 : qGray(shot.pixel(x, y)) < 100) {
                    first.setX(x);
                    break;
                }
        return first;
    };
    const QImage idle = table().viewport()->grab(cell.adjusted(PatchListItemDelegate::kCellInset,
                                                               PatchListItemDelegate::kCellInset,
                                                               -PatchListItemDelegate::kCellInset,
                                                               -PatchListItemDelegate::kCellInset)).toImage();
    const QPoint idleInk = inkAt(idle, true);
    ASSERT_GE(idleInk.y(), 0);

    click(1, 2);
    pressF2();
    auto* text = qobject_cast<QPlainTextEdit*>(editor());
    ASSERT_NE(text, nullptr);
    text->setFocus();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return text->hasFocus(); }));
    // The editor places its text at its first paint and moves it on the next turn of the loop; a loaded
    // machine may not have painted it yet, so one paint is asked for and the move waited for.
    text->grab();
    testing_app::processEventsUntil([&] { return text->viewport()->y() > text->frameWidth(); });
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
}

// The list's large bold names read at least 3:1 on the highlight of their editor, as drawn.
TEST_F(CustomTableViewForPatchTest, AnEditedNameShowsSelectedAndReadsOnItsHighlight)
{
    load(10);
    click(3, 1);
    pressF2();
    auto* line = qobject_cast<QLineEdit*>(editor());
    ASSERT_NE(line, nullptr);
    line->selectAll();
    const QImage shot = line->grab().toImage();
    EXPECT_GE(testing_app::selectedTextContrast(shot, shot.pixelColor(shot.width() - 5, shot.height() / 2)), 3.0);
    key(line, Qt::Key_Escape);
}

TEST_F(CustomTableViewForPatchTest, TabEndsANameEdit)
{
    load(10);
    click(0, 1);
    pressF2();
    auto* line = qobject_cast<QLineEdit*>(editor());
    ASSERT_NE(line, nullptr);
    line->setText(QStringLiteral("Tabbed"));
    key(line, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
    EXPECT_EQ(screen->patchItems()[0]->patchName, "Tabbed");
    EXPECT_EQ(table().model()->index(1, 1).data().toString().toStdString(), "P1") << "no edit of the next cell";
}

TEST_F(CustomTableViewForPatchTest, EscapeGivesTheNameBackAndCtrlReturnCommitsIt)
{
    load(10);
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* name;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {Qt::Key_Escape, Qt::NoModifier, "P6", {}},
        {Qt::Key_Return, Qt::ControlModifier, "Line", {"editFilePatch Line|C6", "writeItem 6", "setReloadBufferDataTimer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        click(6, 1);
        pressF2();
        auto* line = qobject_cast<QLineEdit*>(editor());
        ASSERT_NE(line, nullptr);
        line->setFocus();
        line->selectAll();
        typeText(line, QStringLiteral("Line"));
        ASSERT_EQ(line->text().toStdString(), "Line");
        log.clear();
        key(line, c.key, c.modifiers);
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
        EXPECT_EQ(screen->patchItems()[6]->patchName, c.name);
        EXPECT_EQ(log, c.log);
    }
}

// Another window taking the keys (a browser, a notice sheet) is no gesture in this window: the half-typed
// text stays in its editor, uncommitted, and the edit goes on when the window has the keys back.
TEST_F(CustomTableViewForPatchTest, AnotherWindowTakingTheKeysLeavesTheEditOpenAndUncommitted)
{
    load(10);
    for (const int column : {1, 2}) {
        SCOPED_TRACE(column);
        const std::string name = screen->patchItems()[2]->patchName, comment = screen->patchItems()[2]->patchComment;
        click(2, column);
        pressF2();
        QWidget* typing = editor();
        ASSERT_NE(typing, nullptr);
        typing->setFocus();
        // The user types once the field shows, its name selected on its next turn.
        QCoreApplication::processEvents();
        key(typing, Qt::Key_A, Qt::ControlModifier);
        typeText(typing, QStringLiteral("Lea"));
        log.clear();
        QWidget other;
        ASSERT_TRUE(testing_app::activateAnotherWindow(other));
        ASSERT_EQ(editor(), typing);
        EXPECT_EQ(screen->patchItems()[2]->patchName, name);
        EXPECT_EQ(screen->patchItems()[2]->patchComment, comment);
        EXPECT_TRUE(log.empty()) << testing::PrintToString(log);

        screen->view()->activateWindow();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->view()->isActiveWindow(); }));
        EXPECT_EQ(QApplication::focusWidget(), typing);
        typeText(typing, QStringLiteral("d"));
        table().setFocus();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
        EXPECT_EQ(column == 1 ? screen->patchItems()[2]->patchName : screen->patchItems()[2]->patchComment, "Lead");
    }
}

// Back from another window the comment's editor is still being typed in, so it keeps the editing look:
// dark text on white, never the idle white that a connected unit's list gives the editors it ends.
TEST_F(CustomTableViewForPatchTest, BackFromAnotherWindowTheCommentBeingTypedStaysLegible)
{
    AppDelegate& app = AppDelegate::getInstance();
    app.setDeviceConnected(true);
    const struct Disconnect {
        AppDelegate& app;
        ~Disconnect() { app.setDeviceConnected(false); }
    } disconnect{app};
    load(10);
    click(3, 2);
    pressF2();
    auto* typing = qobject_cast<ChangingColorWhenEditingTextView*>(editor());
    ASSERT_NE(typing, nullptr);
    typing->setFocus();
    QCoreApplication::processEvents();
    key(typing, Qt::Key_End, Qt::ControlModifier);
    typeText(typing, QStringLiteral(" Lead"));
    // How many columns of the editor show something that reads on its white: the text spans many, the
    // caret one or two.
    const auto legibleColumns = [&] {
        const QImage shot = typing->grab().toImage();
        int columns = 0;
        for (int x = 0; x < shot.width(); ++x) {
            bool dark = false;
            for (int y = 0; y < shot.height() && !dark; ++y)
                dark = testing_app::contrastRatio(QColor(shot.pixel(x, y)), Qt::white) >= 4.5;
            columns += dark;
        }
        return columns;
    };
    ASSERT_GT(legibleColumns(), 10);

    QWidget other;
    ASSERT_TRUE(testing_app::activateAnotherWindow(other));
    screen->view()->activateWindow();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return screen->view()->isActiveWindow(); }));
    ASSERT_EQ(editor(), typing);
    ASSERT_EQ(QApplication::focusWidget(), typing);
    EXPECT_GE(testing_app::contrastRatio(typing->palette().color(QPalette::Text), typing->palette().color(QPalette::Base)),
              4.5);
    EXPECT_GT(legibleColumns(), 10);
    typeText(typing, QStringLiteral("s"));
    EXPECT_TRUE(typing->toPlainText().endsWith(QStringLiteral(" Leads")));
    EXPECT_GT(legibleColumns(), 10);

    // A popup that borrows the keys for a moment gives them back the same way (the events Qt sends the
    // focused control as a popup opens and closes).
    QFocusEvent lent(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(typing, &lent);
    QFocusEvent back(QEvent::FocusIn, Qt::PopupFocusReason);
    QApplication::sendEvent(typing, &back);
    ASSERT_EQ(editor(), typing);
    EXPECT_GT(legibleColumns(), 10);
}

// A reload of the list (a failed write elsewhere put back, an undo from the popover) closes every editor:
// the name or comment being typed opens again on its patch, wherever the patch now is, typing and all.
TEST_F(CustomTableViewForPatchTest, ANameOrCommentBeingTypedOutlivesAReloadOfTheList)
{
    load(10);
    for (const int column : {1, 2}) {
        SCOPED_TRACE(column);
        const auto typedOn = screen->patchItems()[4];
        click(4, column);
        pressF2();
        ASSERT_NE(editor(), nullptr);
        editor()->setFocus();
        key(editor(), Qt::Key_A, Qt::ControlModifier);
        typeText(editor(), QStringLiteral("Le"));
        log.clear();
        screen->reloadDataInPatchList();
        ASSERT_NE(editor(), nullptr);
        EXPECT_EQ(QApplication::focusWidget(), editor());
        typeText(editor(), QStringLiteral("a"));
        // The patch moves two rows down under the typing.
        screen->didChangePositionFromRowIndexSet(table(), {4}, 7);
        ASSERT_EQ(screen->patchItems()[6], typedOn);
        ASSERT_NE(editor(), nullptr);
        typeText(editor(), QStringLiteral("d"));
        const std::string typed = column == 1 ? qobject_cast<QLineEdit*>(editor())->text().toStdString()
                                              : qobject_cast<QPlainTextEdit*>(editor())->toPlainText().toStdString();
        EXPECT_EQ(typed, "Lead");
        log.clear();
        table().setFocus();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return editor() == nullptr; }));
        EXPECT_EQ(column == 1 ? typedOn->patchName : typedOn->patchComment, "Lead");
        EXPECT_EQ(log.at(1), "writeItem 6") << testing::PrintToString(log);
        load(10);
    }
}

TEST_F(CustomTableViewForPatchTest, ARightClickSelectsItsRowAloneUnlessSelectedThenOpensItsMenu)
{
    load(10);
    FakeRightClick menu(log);
    table().setRightClickDelegate(&menu);
    table().setUpCurrentSelectionWithIndexSet({1, 2}, false);

    click(2, 1, Qt::RightButton);
    EXPECT_EQ(table().selectedRows(), (std::vector<std::uint64_t>{1, 2})) << "a selected row keeps the selection";
    EXPECT_EQ(selectionRecords(), 0u);
    ASSERT_NE(table().optionMenu(), nullptr);
    EXPECT_EQ(table().optionMenu()->targetIndex(), 2u);
    EXPECT_TRUE(table().menuPopover()->isVisible());

    click(5, 2, Qt::RightButton);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{5});
    EXPECT_EQ(table().selectionList(), std::vector<std::uint64_t>{5});
    ASSERT_EQ(selectionRecords(), 1u);
    const auto* record = dynamic_cast<const SelectionAction*>(undo.actionStack()[0].get());
    EXPECT_EQ(record->previousSelectionList, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(log, std::vector<std::string>{"selectPatchItem P5 5"});
    OptionMenuForPatchViewController* shown = table().optionMenu();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->targetIndex(), 5u);
    EXPECT_EQ(shown->patchItem()->patchName, "row5");
    EXPECT_TRUE(shown->savingInPatchPoolButton()->isEnabled());
    EXPECT_FALSE(shown->readingInPatchPoolButton()->isEnabled());

    log.clear();
    for (const auto& [press, expected] : std::vector<std::pair<std::function<QPushButton*(OptionMenuForPatchViewController&)>, std::string>>{
             {[](OptionMenuForPatchViewController& m) { return m.savingInPatchPoolButton(); }, "save 5"},
             {[](OptionMenuForPatchViewController& m) { return m.undoButton(); }, "undo 5"},
             {[](OptionMenuForPatchViewController& m) { return m.propertyButton(); }, "property 5"}}) {
        click(5, 1, Qt::RightButton);
        ASSERT_NE(table().optionMenu(), nullptr);
        press(*table().optionMenu())->click();
        EXPECT_EQ(log.back(), expected);
        EXPECT_FALSE(table().menuPopover()->isVisible()) << expected;
    }
}

// Ctrl picks rows here, so the Control-click that counts as a right click is the one Qt names Meta.
TEST_F(CustomTableViewForPatchTest, AControlClickIsARightClickAndCtrlStillPicksRows)
{
    load(10);
    FakeRightClick menu(log);
    table().setRightClickDelegate(&menu);
    click(1, 1);
    click(3, 1, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(table().selectedRows(), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_TRUE(table().menuPopover() == nullptr || !table().menuPopover()->isVisible());
    click(3, 1, Qt::LeftButton, Qt::MetaModifier);
    EXPECT_EQ(table().selectedRows(), (std::vector<std::uint64_t>{1, 3})) << "a selected row keeps the selection";
    ASSERT_NE(table().optionMenu(), nullptr);
    EXPECT_EQ(table().optionMenu()->targetIndex(), 3u);
    EXPECT_TRUE(table().menuPopover()->isVisible());
    click(6, 2, Qt::LeftButton, Qt::MetaModifier);
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{6});
    EXPECT_EQ(table().optionMenu()->targetIndex(), 6u);
    // Under a sheet it opens nothing, as a right click.
    table().closeRightClickMenu();
    appDelegate.setIsShowingDialog(true);
    click(2, 1, Qt::LeftButton, Qt::MetaModifier);
    appDelegate.setIsShowingDialog(false);
    EXPECT_FALSE(table().menuPopover()->isVisible());
    EXPECT_EQ(table().selectedRows(), std::vector<std::uint64_t>{6});
}

TEST_F(CustomTableViewForPatchTest, NoMenuOnAFillerRowWhileLockedOrWhileADialogShows)
{
    load(10);
    FakeRightClick menu(log);
    table().setRightClickDelegate(&menu);
    click(15, 1, Qt::RightButton);
    EXPECT_EQ(table().menuPopover(), nullptr);
    appDelegate.setIsShowingDialog(true);
    click(3, 1, Qt::RightButton);
    EXPECT_EQ(table().menuPopover(), nullptr);
    appDelegate.setIsShowingDialog(false);
    screen->setlockPatchList(true);
    click(3, 1, Qt::RightButton);
    EXPECT_EQ(table().menuPopover(), nullptr);
    EXPECT_TRUE(table().selectedRows().empty());
}

TEST_F(CustomTableViewForPatchTest, ScrollingTheListClosesItsMenu)
{
    load(100);
    click(1, 1, Qt::RightButton);
    ASSERT_NE(table().menuPopover(), nullptr);
    ASSERT_TRUE(table().menuPopover()->isVisible());
    table().verticalScrollBar()->setValue(table().verticalScrollBar()->value() + 40);
    EXPECT_FALSE(table().menuPopover()->isVisible());
}

TEST(CustomTableViewForPatchRuler, ShowsOnlyWhenTheRowsReachBeyondTheVisibleArea)
{
    testing_app::application();
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
    struct Case {
        int visible;
        bool expanded;
    };
    // Thirty rows of 55 points are 1650 points.
    for (const Case c : {Case{1650, false}, Case{1700, false}, Case{1649, true}, Case{400, true}}) {
        table.resize(600, c.visible + chrome);
        ASSERT_EQ(table.viewport()->height(), c.visible);
        EXPECT_EQ(table.isExpandedOverView(), c.expanded) << c.visible;
        table.reloadData();
        EXPECT_EQ(table.rulerVisible(), c.expanded) << c.visible;
    }
}

}  // namespace
