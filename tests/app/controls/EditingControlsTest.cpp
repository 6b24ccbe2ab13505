#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>
#include <QVBoxLayout>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/ChangingColorWhenEditingTextView.h"
#include "app/controls/EditingKeyMonitor.h"
#include "app/controls/InputMethodComposition.h"
#include "app/controls/RuleText.h"
#include "app/controls/EditingTextDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/text/PatchCommentTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"
#include "support/app/TestApplication.h"

namespace {

// Records what the control asks and answers as told.
struct RecordingDelegate : EditingTextDelegate {
    bool beginAnswer = true;
    bool changeAnswer = true;
    bool endAnswer = true;
    int beginAsked = 0;
    int endAsked = 0;
    int didChange = 0;
    std::vector<std::pair<TextRange, std::string>> changes;

    bool textShouldBeginEditing(QWidget*) override
    {
        ++beginAsked;
        return beginAnswer;
    }
    bool shouldChangeText(EditableText&, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override
    {
        changes.emplace_back(ranges.at(0), replacements.at(0));
        return changeAnswer;
    }
    void textDidChange(QWidget*) override { ++didChange; }
    bool textShouldEndEditing(EditableText&) override
    {
        ++endAsked;
        return endAnswer;
    }
};

// A list with one edited control in it, in an active window whose menu has an Undo shortcut.
class EditingControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_app::application();
        window = std::make_unique<QMainWindow>();
        undo = window->menuBar()->addMenu(QStringLiteral("Edit"))->addAction(QStringLiteral("Undo"));
        undo->setShortcut(QKeySequence::Undo);
        list = new QListView;
        window->setCentralWidget(list);
        AppDelegate::getInstance().setMainWindow(window.get());
        window->resize(400, 300);
        window->show();
        window->activateWindow();
        testing_app::processEventsUntil([&] { return window->isActiveWindow(); });
        QApplication::clipboard()->clear();
    }
    void TearDown() override
    {
        window.reset();
        AppDelegate::getInstance().enableMenuShortkey();
        AppDelegate::getInstance().setMainWindow(nullptr);
        AppDelegate::getInstance().clearData();
    }

    template <typename Control>
    Control* editIn(RecordingDelegate& delegate, const QString& text)
    {
        auto* control = new Control(list->viewport());
        control->setGeometry(0, 0, 200, 40);
        control->setDelegate(&delegate);
        if constexpr (std::is_same_v<Control, ChangingColorWhenEditingTextField>) {
            control->setText(text);
        } else {
            control->setPlainText(text);
        }
        control->setOriginalText(text);
        control->show();
        control->setFocus(Qt::MouseFocusReason);
        EXPECT_TRUE(testing_app::processEventsUntil([&] { return control->hasFocus(); }));
        QCoreApplication::processEvents();
        return control;
    }

    static void key(QWidget* to, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(to, &press);
    }

    std::unique_ptr<QMainWindow> window;
    QAction* undo = nullptr;
    QListView* list = nullptr;
};

TEST_F(EditingControls, NameFieldTakesTheMonitorAndTheWindowsShortcutsWhileEdited)
{
    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Clean"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    EXPECT_EQ(EditingKeyMonitor::installed()->field(), field);
    EXPECT_EQ(EditingKeyMonitor::installFor(field), nullptr) << "one monitor at most";
    EXPECT_TRUE(undo->shortcut().isEmpty());
    EXPECT_EQ(AppDelegate::getInstance().getEdittingTextField(), field);
    EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(field->selectedText(), QStringLiteral("Clean"));

    list->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(field->isInEdit());
    EXPECT_EQ(EditingKeyMonitor::installed(), nullptr);
    EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_TRUE(field->isReadOnly());
}

TEST_F(EditingControls, FirstKeyAsksTheDelegateAndARefusalLeavesThatKeyAlone)
{
    RecordingDelegate delegate;
    delegate.beginAnswer = false;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Clean"));
    key(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(delegate.beginAsked, 1);
    EXPECT_EQ(delegate.endAsked, 0) << "the monitor did not interpret the first key";
    EXPECT_TRUE(field->isEditing());
    key(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(delegate.beginAsked, 1) << "asked once an edit";
    EXPECT_EQ(delegate.endAsked, 1);
}

TEST_F(EditingControls, CtrlVPastesOnceThroughTheDelegate)
{
    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("xy"));
    field->setCursorPosition(2);
    QApplication::clipboard()->setText(QStringLiteral("AB"));
    key(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("xyAB"));
    EXPECT_EQ(field->cursorPosition(), 4);
    ASSERT_EQ(delegate.changes.size(), 1u);
    EXPECT_EQ(delegate.changes[0].first.location, 2u);
    EXPECT_EQ(delegate.changes[0].first.length, 0u);
    EXPECT_EQ(delegate.changes[0].second, "AB");
    EXPECT_TRUE(field->isPasted());
    EXPECT_FALSE(field->isTypedWord());
    EXPECT_EQ(delegate.didChange, 1);

    // Over a selection the paste replaces it.
    field->setSelection(0, 2);
    key(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("ABAB"));

    // A pasted-only name is checked once more when the edit ends.
    list->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(delegate.endAsked, 1);
}

// A character typed with Alt or Meta held goes into the text like any other, so it meets the rule; a
// modifier's own press is no typing, so an edit made only by Ctrl+V stays a pasted-only edit.
TEST_F(EditingControls, EveryInsertionMeetsTheRuleAndOnlyTextKeysCountAsTyping)
{
    for (const Qt::KeyboardModifiers held : {Qt::KeyboardModifiers(Qt::AltModifier), Qt::KeyboardModifiers(Qt::MetaModifier),
                                             Qt::KeyboardModifiers(Qt::AltModifier | Qt::ShiftModifier)}) {
        RecordingDelegate delegate;
        delegate.changeAnswer = false;
        auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("ABCDEFGHIJ"));
        field->setCursorPosition(10);
        key(field, Qt::Key_K, held, QStringLiteral("k"));
        EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHIJ"));
        ASSERT_EQ(delegate.changes.size(), 1u);
        EXPECT_EQ(delegate.changes[0].second, "k");
        delete field;

        RecordingDelegate commentDelegate;
        commentDelegate.changeAnswer = false;
        auto* view = editIn<ChangingColorWhenEditingTextView>(commentDelegate, QStringLiteral("abc"));
        key(view, Qt::Key_K, held, QStringLiteral("k"));
        EXPECT_EQ(view->toPlainText(), QStringLiteral("abc"));
        EXPECT_EQ(commentDelegate.changes.size(), 1u);
        delete view;
    }

    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("xy"));
    QApplication::clipboard()->setText(QStringLiteral("AB"));
    key(field, Qt::Key_Control, Qt::ControlModifier);
    key(field, Qt::Key_V, Qt::ControlModifier);
    key(field, Qt::Key_Left);
    EXPECT_TRUE(field->isPasted());
    EXPECT_FALSE(field->isTypedWord());
    list->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(delegate.endAsked, 1) << "a pasted-only edit is checked once more as it ends";

    RecordingDelegate commentDelegate;
    auto* view = editIn<ChangingColorWhenEditingTextView>(commentDelegate, QStringLiteral("xy"));
    key(view, Qt::Key_Control, Qt::ControlModifier);
    key(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(view->isPasted());
    EXPECT_FALSE(view->isTypedWord());
    key(view, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_TRUE(view->isTypedWord());
}

TEST_F(EditingControls, RefusedOrEmptyPasteChangesNothing)
{
    RecordingDelegate delegate;
    delegate.changeAnswer = false;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("xy"));
    key(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_FALSE(field->isPasted()) << "nothing on the clipboard";
    EXPECT_EQ(delegate.didChange, 0);
    QApplication::clipboard()->setText(QStringLiteral("AB"));
    key(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("xy"));
    EXPECT_TRUE(field->isPasted());
    EXPECT_EQ(delegate.didChange, 1);

    // Typing goes through the delegate too.
    field->setCursorPosition(2);
    key(field, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_EQ(field->text(), QStringLiteral("xy"));
    EXPECT_TRUE(field->isTypedWord());
    delegate.changeAnswer = true;
    key(field, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_EQ(field->text(), QStringLiteral("xyz"));
    key(field, Qt::Key_Backspace);
    EXPECT_EQ(delegate.changes.back().first.location, 2u);
    EXPECT_EQ(delegate.changes.back().first.length, 1u);
    EXPECT_EQ(field->text(), QStringLiteral("xy"));
}

TEST_F(EditingControls, CtrlCCopiesTheSelectionAndCtrlASelectsAll)
{
    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Crunch"));
    field->setSelection(1, 3);
    key(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("run"));
    field->setCursorPosition(0);
    key(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("run")) << "nothing selected, nothing copied";
    key(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("Crunch"));
    EXPECT_FALSE(field->isTypedWord());
}

TEST_F(EditingControls, EscapeBringsTheOriginalBackAndHandsTheFocusToTheList)
{
    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Clean"));
    int ended = 0;
    QObject::connect(field, &ChangingColorWhenEditingTextField::editingEnded, [&] { ++ended; });
    field->setText(QStringLiteral("Dirty"));
    key(field, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    key(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), QStringLiteral("Clean"));
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(EditingKeyMonitor::installed(), nullptr);
    EXPECT_FALSE(AppDelegate::getInstance().isMenuShortkeyDisabled());
}

TEST_F(EditingControls, CtrlReturnEndsTheEditOnlyWhenTheDelegateSaysSo)
{
    RecordingDelegate delegate;
    delegate.endAnswer = false;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Clean"));
    key(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(field->isInEdit());
    EXPECT_TRUE(field->hasFocus());
    delegate.endAnswer = true;
    key(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(field->isInEdit());
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(delegate.endAsked, 2);
}

TEST_F(EditingControls, MonitorGoesWithItsField)
{
    RecordingDelegate delegate;
    auto* field = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Clean"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    delete field;
    EXPECT_EQ(EditingKeyMonitor::installed(), nullptr);
    EXPECT_FALSE(AppDelegate::getInstance().isMenuShortkeyDisabled());
    EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    // Keys elsewhere reach nothing that is gone.
    key(list, Qt::Key_V, Qt::ControlModifier);

    // The next field gets a monitor of its own.
    auto* next = editIn<ChangingColorWhenEditingTextField>(delegate, QStringLiteral("Next"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    EXPECT_EQ(EditingKeyMonitor::installed()->field(), next);
}

TEST_F(EditingControls, RightReleaseOnAnIdleFieldGoesToTheList)
{
    struct Listening : QObject {
        int releases = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::MouseButtonRelease) ++releases;
            return false;
        }
    } listening;
    list->viewport()->installEventFilter(&listening);
    auto* field = new ChangingColorWhenEditingTextField(list->viewport());
    field->setReadOnly(true);
    field->show();
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, field->mapToGlobal(at), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, field->mapToGlobal(at), Qt::RightButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(field, &release);
    EXPECT_EQ(listening.releases, 1);
    EXPECT_TRUE(list->hasFocus());
}

// The comment rule behind a delegate, as the comment cells put it.
struct CommentRule : RecordingDelegate {
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override
    {
        RecordingDelegate::shouldChangeText(editor, ranges, replacements);
        return PatchCommentTextEditingManagement::patchCommentInTextView(editor, ranges, replacements, TextRuleContext{});
    }
    std::size_t longestText(const EditableText&) override { return PatchCommentTextEditingManagement::kMaxBytes; }
};

TEST_F(EditingControls, CommentViewPutsPastesAndTypingToTheRule)
{
    CommentRule rule;
    const QString full(199, QLatin1Char('c'));
    auto* view = editIn<ChangingColorWhenEditingTextView>(rule, full);
    EXPECT_TRUE(view->isEditing());
    EXPECT_EQ(AppDelegate::getInstance().editingTextView(), view);
    EXPECT_TRUE(AppDelegate::getInstance().isMenuShortkeyDisabled());
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::black));
    QTextCursor end = view->textCursor();
    end.movePosition(QTextCursor::End);
    view->setTextCursor(end);

    QApplication::clipboard()->setText(QStringLiteral("ab"));
    key(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view->toPlainText(), full) << "201 bytes are refused";
    EXPECT_TRUE(view->isPasted());
    ASSERT_EQ(rule.changes.size(), 1u);
    EXPECT_EQ(rule.changes[0].first.location, 199u);

    key(view, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_EQ(view->toPlainText(), full + QLatin1Char('\n'));
    key(view, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    EXPECT_EQ(view->toPlainText(), full + QLatin1Char('\n')) << "the 201st byte is refused";

    key(view, Qt::Key_Escape);
    EXPECT_EQ(view->toPlainText(), full);
    EXPECT_FALSE(view->isEditing());
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(AppDelegate::getInstance().editingTextView(), nullptr);
    EXPECT_FALSE(AppDelegate::getInstance().isMenuShortkeyDisabled());
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::white));
}

TEST_F(EditingControls, PastedOnlyCommentTheDelegateRefusesKeepsTheView)
{
    RecordingDelegate delegate;
    delegate.endAnswer = false;
    auto* view = editIn<ChangingColorWhenEditingTextView>(delegate, QStringLiteral("note"));
    QApplication::clipboard()->setText(QStringLiteral("!"));
    key(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("!note"));
    list->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return view->hasFocus(); }));
    EXPECT_TRUE(view->isEditing());
    EXPECT_EQ(delegate.endAsked, 1);

    // Once typed into, it lets go without asking.
    key(view, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    list->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(view->isEditing());
    EXPECT_EQ(delegate.endAsked, 1);
}

TEST_F(EditingControls, CommentViewThatMayNotBeEditedStaysIdle)
{
    RecordingDelegate delegate;
    auto* view = new ChangingColorWhenEditingTextView(list->viewport());
    view->setCanBeEdit([] { return false; });
    view->show();
    view->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->isEditing());
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_FALSE(AppDelegate::getInstance().isMenuShortkeyDisabled());
}

TEST_F(EditingControls, WheelOverACommentScrollsTheList)
{
    QStandardItemModel rows;
    for (int row = 0; row < 200; ++row) rows.appendRow(new QStandardItem(QStringLiteral("row %1").arg(row)));
    list->setModel(&rows);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return list->verticalScrollBar()->maximum() > 0; }));
    auto* view = new ChangingColorWhenEditingTextView(list->viewport());
    view->setPlainText(QString(40, QLatin1Char('\n')));
    view->setGeometry(0, 0, 200, 40);
    view->show();
    QCoreApplication::processEvents();
    const QPointF at(10, 10);
    QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    EXPECT_GT(list->verticalScrollBar()->value(), 0);
}

TEST_F(EditingControls, CommentSitsCentredInItsFirst45Points)
{
    struct Case {
        qreal height, text, inset;
    };
    for (const Case& c : {Case{55, 15, 15}, Case{30, 10, 10}, Case{45, 45, 0}, Case{40, 60, 0}, Case{100, 5, 20}}) {
        EXPECT_DOUBLE_EQ(ChangingColorWhenEditingTextView::verticalInsetFor(c.height, c.text), c.inset)
            << c.height << " " << c.text;
    }
}

}  // namespace

namespace {

// The name rule behind a delegate, as the name cells put it.
struct NameRule : RecordingDelegate {
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override
    {
        RecordingDelegate::shouldChangeText(editor, ranges, replacements);
        return PatchNameTextEditingManagement::patchNameInTextView(editor, ranges, replacements, TextRuleContext{});
    }
    std::size_t longestText(const EditableText&) override { return PatchNameTextEditingManagement::kMaxBytes; }
};

void commit(QWidget* to, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(to, &event);
}

void middleClick(QWidget* at)
{
    const QPointF point(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, point, at->mapToGlobal(point), Qt::MiddleButton, Qt::MiddleButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(at, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, point, at->mapToGlobal(point), Qt::MiddleButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(at, &release);
}

const QString kGuitar = QString::fromUtf8("\xF0\x9F\x8E\xB8");  // one character, a surrogate pair

}  // namespace

TEST_F(EditingControls, TypedCharactersOfEveryKindAndInputMethodCommitsMeetTheRule)
{
    NameRule rule;
    auto* field = editIn<ChangingColorWhenEditingTextField>(rule, QStringLiteral("ABCDEFGHI"));
    field->setCursorPosition(9);
    for (const QString& typed : {kGuitar, QString(QChar(0x200F)), QString(QChar(0xE000))}) {
        rule.changes.clear();
        key(field, Qt::Key_unknown, Qt::NoModifier, typed);
        EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI")) << typed.toStdString();
        ASSERT_EQ(rule.changes.size(), 1u) << typed.toStdString();
        EXPECT_EQ(rule.changes[0].second, typed.toStdString());
    }
    commit(field, kGuitar);
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI"));
    commit(field, QStringLiteral("J"));
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHIJ"));
    field->setText(QStringLiteral("AB"));
    field->setCursorPosition(2);
    // Kana committed by an input method go in as Latin letters, as typed ones do.
    commit(field, QString::fromUtf8("\xE3\x81\x8B"));
    EXPECT_EQ(field->text(), QStringLiteral("ABka"));
    EXPECT_EQ(field->cursorPosition(), 4);

    CommentRule comments;
    auto* view = editIn<ChangingColorWhenEditingTextView>(comments, QStringLiteral("c"));
    commit(view, QString::fromUtf8("\xE6\xBC\xA2"));
    key(view, Qt::Key_unknown, Qt::NoModifier, kGuitar);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("c"));
    EXPECT_EQ(comments.changes.size(), 2u);
    key(view, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    EXPECT_EQ(comments.changes.size(), 3u) << "a tab in a comment is text the rule sees";
}

void compose(QWidget* to, const QString& shown)
{
    QInputMethodEvent event(shown, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, int(shown.size()), 1)});
    QCoreApplication::sendEvent(to, &event);
}

QString shownComposition(const QPlainTextEdit& view)
{
    return view.textCursor().block().layout()->preeditAreaText();
}

TEST_F(EditingControls, ACompositionIsHeldToTheRoomLeftAndOneThatEndsWithNothingTakenKeepsTheText)
{
    CommentRule comments;
    auto* view = editIn<ChangingColorWhenEditingTextView>(comments, QStringLiteral("keep me"));
    view->selectAll();
    // Far past what a comment holds: shown only as far as the whole field's room, at once.
    compose(view, QString(100000, QLatin1Char('x')));
    EXPECT_EQ(shownComposition(*view).size(), 200);
    commit(view, QString(100000, QLatin1Char('x')));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("keep me"));
    EXPECT_EQ(view->textCursor().selectedText(), QStringLiteral("keep me"));

    // A composition given up, and one that fills what is left of the room.
    view->selectAll();
    compose(view, QStringLiteral("ab"));
    compose(view, QString());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("keep me"));
    QTextCursor end = view->textCursor();
    end.movePosition(QTextCursor::End);
    view->setTextCursor(end);
    compose(view, QString(300, QLatin1Char('y')));
    EXPECT_EQ(shownComposition(*view).size(), 193);
    commit(view, QStringLiteral("yy"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("keep meyy"));

    // A commit the rule takes replaces the selection the composition took away.
    view->selectAll();
    compose(view, QStringLiteral("ab"));
    commit(view, QStringLiteral("ab"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("ab"));
    compose(view, QString());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("ab"));

    NameRule names;
    auto* field = editIn<ChangingColorWhenEditingTextField>(names, QStringLiteral("ABC"));
    field->selectAll();
    compose(field, QStringLiteral("x"));
    commit(field, kGuitar);
    EXPECT_EQ(field->text(), QStringLiteral("ABC"));
    EXPECT_EQ(field->selectedText(), QStringLiteral("ABC"));
}

TEST(InputMethodComposition, ACutCompositionEndsOnAWholeCharacterWithItsMarksInside)
{
    testing_app::application();
    const QString shown = QStringLiteral("ab") + kGuitar + QStringLiteral("cd");
    QInputMethodEvent event(shown, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, 6, 1),
                                    QInputMethodEvent::Attribute(QInputMethodEvent::TextFormat, 1, 4, QVariant()),
                                    QInputMethodEvent::Attribute(QInputMethodEvent::TextFormat, 5, 1, QVariant())});
    event.setCommitString(QStringLiteral("z"), -1, 1);
    EXPECT_EQ(InputMethodComposition::bounded(event, 6), nullptr);
    const auto cut = InputMethodComposition::bounded(event, 3);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->preeditString(), QStringLiteral("ab"));
    EXPECT_EQ(cut->commitString(), QStringLiteral("z"));
    EXPECT_EQ(cut->replacementStart(), -1);
    EXPECT_EQ(cut->replacementLength(), 1);
    ASSERT_EQ(cut->attributes().size(), 2);
    EXPECT_EQ(cut->attributes()[0].start, 2);
    EXPECT_EQ(cut->attributes()[0].length, 1);
    EXPECT_EQ(cut->attributes()[1].start, 1);
    EXPECT_EQ(cut->attributes()[1].length, 1);
    EXPECT_EQ(InputMethodComposition::bounded(event, 0)->preeditString(), QString());
    EXPECT_EQ(InputMethodComposition::roomFor({QStringLiteral("abcd"), 1, 2, 3}, 10), 8u);
    EXPECT_EQ(InputMethodComposition::roomFor({QString(12, QLatin1Char('a')), 0, 0, 0}, 10), 0u);
}

TEST_F(EditingControls, HalfACharacterFromAnInputMethodIsRefusedNeverStoredAsAQuestionMark)
{
    const QString loneHigh(QChar(0xD800));
    const QString loneLow(QChar(0xDC00));
    CommentRule comments;
    auto* view = editIn<ChangingColorWhenEditingTextView>(comments, QStringLiteral("ab"));
    QTextCursor end = view->textCursor();
    end.movePosition(QTextCursor::End);
    view->setTextCursor(end);
    commit(view, loneHigh);
    commit(view, QStringLiteral("c") + loneLow);
    key(view, Qt::Key_unknown, Qt::NoModifier, loneLow);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("ab"));
    commit(view, QStringLiteral("c"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("abc"));

    NameRule names;
    auto* field = editIn<ChangingColorWhenEditingTextField>(names, QStringLiteral("AB"));
    field->setCursorPosition(2);
    commit(field, loneLow);
    EXPECT_EQ(field->text(), QStringLiteral("AB"));
}

TEST(RuleText, WritesUnpairedSurrogatesAsBytesNoRuleTakes)
{
    const QString guitar = QString::fromUtf8("\xF0\x9F\x8E\xB8");
    EXPECT_EQ(RuleText::of(QStringLiteral("plain")), "plain");
    EXPECT_EQ(RuleText::of(QString::fromUtf8("\xE6\xBC\xA2") + guitar), "\xE6\xBC\xA2\xF0\x9F\x8E\xB8");
    EXPECT_EQ(RuleText::of(QStringLiteral("a") + QChar(0xD800)), "a\xED\xA0\x80");
    EXPECT_EQ(RuleText::of(QString(QChar(0xDFFF)) + QStringLiteral("b")), "\xED\xBF\xBF" "b");
    // A high half followed by something other than its low half is alone too.
    EXPECT_EQ(RuleText::of(QString(QChar(0xD83C)) + QString(QChar(0xD83C)) + QChar(0xDFB8)),
              "\xED\xA0\xBC\xF0\x9F\x8E\xB8");
}

// The same controls on a display, where the selection clipboard is.
class EditingControlsOnScreen : public EditingControls {
protected:
    void SetUp() override
    {
        if (!testing_app::hasDisplay()) GTEST_SKIP() << "the selection clipboard needs a display";
        EditingControls::SetUp();
    }
    void TearDown() override
    {
        if (window) EditingControls::TearDown();
    }
};

TEST_F(EditingControlsOnScreen, TheMiddleButtonPastesOnlyWhatTheRuleTakes)
{
    QClipboard* clipboard = QApplication::clipboard();
    ASSERT_TRUE(clipboard->supportsSelection());
    const auto select = [clipboard](const QString& text) {
        clipboard->setText(text, QClipboard::Selection);
        return testing_app::processEventsUntil([&] { return clipboard->text(QClipboard::Selection) == text; });
    };

    CommentRule comments;
    auto* view = editIn<ChangingColorWhenEditingTextView>(comments, QStringLiteral("c"));
    ASSERT_TRUE(select(QString(1 << 20, QLatin1Char('m'))));
    middleClick(view->viewport());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("c"));
    ASSERT_EQ(comments.changes.size(), 1u);
    EXPECT_EQ(comments.changes[0].second.size(), std::size_t{1} << 20);
    ASSERT_TRUE(select(QStringLiteral("d")));
    middleClick(view->viewport());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("dc"));

    NameRule names;
    auto* field = editIn<ChangingColorWhenEditingTextField>(names, QStringLiteral("ABCDEFGHI"));
    ASSERT_TRUE(select(kGuitar));
    middleClick(field);
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI"));
    ASSERT_EQ(names.changes.size(), 1u);
    EXPECT_EQ(names.changes[0].second, kGuitar.toStdString());
}
