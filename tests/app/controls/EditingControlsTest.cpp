#include <gtest/gtest.h>

#include <QClipboard>
#include <QInputMethodEvent>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>

#include "app/controls/ChangingColorWhenEditingTextField.h"
#include "app/controls/ChangingColorWhenEditingTextView.h"
#include "app/controls/EditingKeyMonitor.h"
#include "app/controls/EditingTextDelegate.h"
#include "app/controls/InputMethodComposition.h"
#include "app/controls/RuleText.h"
#include "app/shell/AppDelegate.h"
#include "library/text/PatchCommentTextEditingManagement.h"
#include "library/text/PatchNameTextEditingManagement.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

namespace {

using testing_app::commitText;
using testing_app::key;
using Field = ChangingColorWhenEditingTextField;
using View = ChangingColorWhenEditingTextView;
using Rule = bool (*)(EditableText&, const std::vector<TextRange>&, const std::vector<std::string>&, const TextRuleContext&);

const QString kGuitar = QString::fromUtf8("\xF0\x9F\x8E\xB8");  // one character, a surrogate pair
const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);

// Records what the control asks and answers as told, or as a rule the cells put behind it says.
struct RecordingDelegate : EditingTextDelegate {
    RecordingDelegate(Rule rule = nullptr, std::size_t longest = 0) : rule(rule), longest(longest) {}
    Rule rule;
    std::size_t longest;
    bool beginAnswer = true, changeAnswer = true, endAnswer = true;
    int beginAsked = 0, endAsked = 0, didChange = 0;
    std::vector<std::pair<TextRange, std::string>> changes;
    bool textShouldBeginEditing(QWidget*) override { return ++beginAsked, beginAnswer; }
    bool shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                          const std::vector<std::string>& replacements) override
    {
        changes.emplace_back(ranges.at(0), replacements.at(0));
        return rule ? rule(editor, ranges, replacements, TextRuleContext{}) : changeAnswer;
    }
    std::size_t longestText(const EditableText& editor) override
    {
        return rule ? longest : EditingTextDelegate::longestText(editor);
    }
    void textDidChange(QWidget*) override { ++didChange; }
    bool textShouldEndEditing(EditableText&) override { return ++endAsked, endAnswer; }
    // The last change asked: where, how long, what.
    std::tuple<std::size_t, std::size_t, std::string> last() const
    {
        return {changes.back().first.location, changes.back().first.length, changes.back().second};
    }
};
RecordingDelegate commentRule()
{
    return {&PatchCommentTextEditingManagement::patchCommentInTextView, PatchCommentTextEditingManagement::kMaxBytes};
}
RecordingDelegate nameRule()
{
    return {&PatchNameTextEditingManagement::patchNameInTextView, PatchNameTextEditingManagement::kMaxBytes};
}

void compose(QWidget* to, const QString& shown)
{
    QInputMethodEvent event(shown, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, int(shown.size()), 1)});
    QCoreApplication::sendEvent(to, &event);
}

QString shownComposition(const QPlainTextEdit& view) { return view.textCursor().block().layout()->preeditAreaText(); }

void toEnd(QPlainTextEdit* view)
{
    QTextCursor end = view->textCursor();
    end.movePosition(QTextCursor::End);
    view->setTextCursor(end);
}

// A list with one edited control in it, in an active window whose menu has an Undo shortcut.
class EditingControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_app::application();
        window = std::make_unique<QMainWindow>();
        undo = window->menuBar()->addMenu(QStringLiteral("Edit"))->addAction(QStringLiteral("Undo"));
        undo->setShortcut(QKeySequence::Undo);
        window->setCentralWidget(list = new QListView);
        AppDelegate::getInstance().setMainWindow(window.get());
        window->resize(400, 300);
        testing_app::activate(*window);
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
        if constexpr (std::is_same_v<Control, Field>) control->setText(text);
        else control->setPlainText(text);
        control->setOriginalText(text);
        control->show();
        control->setFocus(Qt::MouseFocusReason);
        EXPECT_TRUE(testing_app::processEventsUntil([&] { return control->hasFocus(); }));
        QCoreApplication::processEvents();
        return control;
    }
    void leave() { list->setFocus(Qt::MouseFocusReason); }
    template <typename Control>
    void paste(Control* control, const QString& text)
    {
        QApplication::clipboard()->setText(text);
        key(control, Qt::Key_V, ctrl);
    }
    // The edit is over: no monitor, the window's shortcuts back, the text white again.
    void expectIdle(QWidget* control)
    {
        EXPECT_EQ(EditingKeyMonitor::installed(), nullptr);
        EXPECT_FALSE(shortcutsOff());
        EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
        EXPECT_EQ(control->palette().color(QPalette::Text), QColor(Qt::white));
    }
    bool shortcutsOff() const { return AppDelegate::getInstance().isMenuShortkeyDisabled(); }
    std::unique_ptr<QMainWindow> window;
    QAction* undo = nullptr;
    QListView* list = nullptr;
};

TEST_F(EditingControls, NameFieldTakesTheMonitorAndTheWindowsShortcutsWhileEdited)
{
    RecordingDelegate delegate;
    auto* field = editIn<Field>(delegate, QStringLiteral("Clean"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    EXPECT_EQ(EditingKeyMonitor::installed()->field(), field);
    EXPECT_EQ(EditingKeyMonitor::installFor(field), nullptr) << "one monitor at most";
    EXPECT_TRUE(undo->shortcut().isEmpty());
    EXPECT_EQ(AppDelegate::getInstance().getEdittingTextField(), field);
    EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(field->selectedText(), QStringLiteral("Clean"));
    leave();
    EXPECT_TRUE(!field->isInEdit() && field->isReadOnly());
    expectIdle(field);
    // The monitor goes with its field, and keys elsewhere reach nothing that is gone.
    field = editIn<Field>(delegate, QStringLiteral("Clean"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    delete field;
    EXPECT_EQ(EditingKeyMonitor::installed(), nullptr);
    EXPECT_FALSE(shortcutsOff());
    EXPECT_EQ(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    key(list, Qt::Key_V, ctrl);
    auto* next = editIn<Field>(delegate, QStringLiteral("Next"));
    ASSERT_NE(EditingKeyMonitor::installed(), nullptr);
    EXPECT_EQ(EditingKeyMonitor::installed()->field(), next);
}

TEST_F(EditingControls, FirstKeyAsksTheDelegateAndCtrlReturnEndsTheEditOnlyWhenTheDelegateSaysSo)
{
    RecordingDelegate refusing, accepting;
    refusing.beginAnswer = false;
    auto* field = editIn<Field>(refusing, QStringLiteral("Clean"));
    key(field, Qt::Key_Return, ctrl);
    EXPECT_EQ(std::pair(refusing.beginAsked, refusing.endAsked), std::pair(1, 0)) << "the refused first key was not interpreted";
    EXPECT_TRUE(field->isEditing());
    key(field, Qt::Key_Return, ctrl);
    EXPECT_EQ(std::pair(refusing.beginAsked, refusing.endAsked), std::pair(1, 1)) << "asked once an edit";
    accepting.endAnswer = false;
    field = editIn<Field>(accepting, QStringLiteral("Clean"));
    key(field, Qt::Key_Return, ctrl);
    EXPECT_TRUE(field->isInEdit() && field->hasFocus());
    accepting.endAnswer = true;
    key(field, Qt::Key_Return, ctrl);
    EXPECT_TRUE(!field->isInEdit() && list->hasFocus());
    EXPECT_EQ(accepting.endAsked, 2);
}

TEST_F(EditingControls, CtrlVPastesOnceThroughTheDelegateAndTypingGoesThroughItToo)
{
    RecordingDelegate delegate;
    auto* field = editIn<Field>(delegate, QStringLiteral("xy"));
    delegate.changeAnswer = false;
    key(field, Qt::Key_V, ctrl);
    EXPECT_TRUE(!field->isPasted() && delegate.didChange == 0) << "nothing on the clipboard";
    field->setCursorPosition(2);
    paste(field, QStringLiteral("AB"));
    EXPECT_EQ(field->text(), QStringLiteral("xy")) << "refused";
    EXPECT_TRUE(field->isPasted() && delegate.didChange == 1);
    delegate.changeAnswer = true;
    key(field, Qt::Key_V, ctrl);
    EXPECT_EQ(std::pair(field->text(), field->cursorPosition()), std::pair(QStringLiteral("xyAB"), 4));
    ASSERT_EQ(delegate.changes.size(), 2u);
    EXPECT_EQ(delegate.last(), std::tuple(2u, 0u, "AB"));
    EXPECT_TRUE(field->isPasted() && !field->isTypedWord() && delegate.didChange == 2);
    // Over a selection the paste replaces it.
    field->setSelection(0, 2);
    key(field, Qt::Key_V, ctrl);
    EXPECT_EQ(field->text(), QStringLiteral("ABAB"));
    field = editIn<Field>(delegate, QStringLiteral("xy"));
    field->setCursorPosition(2);
    delegate.changeAnswer = false;
    key(field, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_EQ(field->text(), QStringLiteral("xy"));
    EXPECT_TRUE(field->isTypedWord());
    delegate.changeAnswer = true;
    key(field, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_EQ(field->text(), QStringLiteral("xyz"));
    key(field, Qt::Key_Backspace);
    EXPECT_EQ(delegate.last(), std::tuple(2u, 1u, ""));
    EXPECT_EQ(field->text(), QStringLiteral("xy"));
}

// An edit made only by Ctrl+V is checked once more at its end: a modifier's own press is no typing.
TEST_F(EditingControls, EveryInsertionMeetsTheRuleAndOnlyTextKeysCountAsTyping)
{
    for (const Qt::KeyboardModifiers held : {Qt::KeyboardModifiers(Qt::AltModifier), Qt::KeyboardModifiers(Qt::MetaModifier),
                                             Qt::KeyboardModifiers(Qt::AltModifier | Qt::ShiftModifier)}) {
        RecordingDelegate names, comments;
        names.changeAnswer = comments.changeAnswer = false;
        auto* field = editIn<Field>(names, QStringLiteral("ABCDEFGHIJ"));
        field->setCursorPosition(10);
        key(field, Qt::Key_K, held, QStringLiteral("k"));
        EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHIJ"));
        ASSERT_EQ(names.changes.size(), 1u);
        EXPECT_EQ(std::get<2>(names.last()), "k");
        delete field;
        auto* view = editIn<View>(comments, QStringLiteral("abc"));
        key(view, Qt::Key_K, held, QStringLiteral("k"));
        EXPECT_EQ(view->toPlainText(), QStringLiteral("abc"));
        EXPECT_EQ(comments.changes.size(), 1u);
        delete view;
    }
    RecordingDelegate names, comments;
    auto* field = editIn<Field>(names, QStringLiteral("xy"));
    QApplication::clipboard()->setText(QStringLiteral("AB"));
    key(field, Qt::Key_Control, ctrl);
    key(field, Qt::Key_V, ctrl);
    key(field, Qt::Key_Left);
    EXPECT_TRUE(field->isPasted() && !field->isTypedWord());
    leave();
    EXPECT_EQ(names.endAsked, 1) << "a pasted-only edit is checked once more as it ends";
    auto* view = editIn<View>(comments, QStringLiteral("xy"));
    key(view, Qt::Key_Control, ctrl);
    key(view, Qt::Key_V, ctrl);
    EXPECT_TRUE(view->isPasted() && !view->isTypedWord());
    key(view, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    EXPECT_TRUE(view->isTypedWord());
}

TEST_F(EditingControls, CtrlCCopiesTheSelectionCtrlASelectsAllAndEscapeBringsTheOriginalBack)
{
    RecordingDelegate delegate;
    auto* field = editIn<Field>(delegate, QStringLiteral("Crunch"));
    field->setSelection(1, 3);
    key(field, Qt::Key_C, ctrl);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("run"));
    field->setCursorPosition(0);
    key(field, Qt::Key_C, ctrl);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("run")) << "nothing selected, nothing copied";
    key(field, Qt::Key_A, ctrl);
    EXPECT_TRUE(field->selectedText() == QStringLiteral("Crunch") && !field->isTypedWord());
    int ended = 0;
    QObject::connect(field, &Field::editingEnded, [&] { ++ended; });
    field->setText(QStringLiteral("Dirty"));
    key(field, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    key(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), QStringLiteral("Crunch"));
    EXPECT_TRUE(list->hasFocus() && ended == 1);
    expectIdle(field);
}

TEST_F(EditingControls, RightReleaseOnAnIdleFieldGoesToTheList)
{
    struct Listening : QObject {
        int releases = 0;
        bool eventFilter(QObject*, QEvent* event) override { return releases += event->type() == QEvent::MouseButtonRelease, false; }
    } listening;
    list->viewport()->installEventFilter(&listening);
    auto* field = new Field(list->viewport());
    field->setReadOnly(true);
    field->show();
    testing_app::click(field, {5, 5}, Qt::RightButton);
    EXPECT_EQ(listening.releases, 1);
    EXPECT_TRUE(list->hasFocus());
}

TEST_F(EditingControls, CommentViewPutsPastesAndTypingToTheRule)
{
    RecordingDelegate rule = commentRule();
    const QString full(199, QLatin1Char('c'));
    auto* view = editIn<View>(rule, full);
    EXPECT_TRUE(view->isEditing() && shortcutsOff());
    EXPECT_EQ(AppDelegate::getInstance().editingTextView(), view);
    EXPECT_EQ(view->palette().color(QPalette::Text), QColor(Qt::black));
    toEnd(view);
    paste(view, QStringLiteral("ab"));
    EXPECT_EQ(view->toPlainText(), full) << "201 bytes are refused";
    ASSERT_TRUE(view->isPasted() && rule.changes.size() == 1u);
    EXPECT_EQ(std::get<0>(rule.last()), 199u);
    key(view, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    EXPECT_EQ(view->toPlainText(), full + QLatin1Char('\n'));
    key(view, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    EXPECT_EQ(view->toPlainText(), full + QLatin1Char('\n')) << "the 201st byte is refused";
    key(view, Qt::Key_Escape);
    EXPECT_EQ(view->toPlainText(), full);
    EXPECT_TRUE(!view->isEditing() && list->hasFocus());
    EXPECT_EQ(AppDelegate::getInstance().editingTextView(), nullptr);
    expectIdle(view);
}

TEST_F(EditingControls, PastedOnlyCommentTheDelegateRefusesKeepsTheView)
{
    RecordingDelegate delegate;
    delegate.endAnswer = false;
    auto* view = editIn<View>(delegate, QStringLiteral("note"));
    paste(view, QStringLiteral("!"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("!note"));
    leave();
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return view->hasFocus(); }));
    EXPECT_TRUE(view->isEditing() && delegate.endAsked == 1);
    // Once typed into, it lets go without asking.
    key(view, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    leave();
    EXPECT_TRUE(!view->isEditing() && delegate.endAsked == 1);
}

TEST_F(EditingControls, ACommentThatMayNotBeEditedStaysIdleAndTheWheelOverOneScrollsTheList)
{
    auto* idle = new View(list->viewport());
    idle->setCanBeEdit([] { return false; });
    idle->show();
    idle->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    EXPECT_TRUE(!idle->isEditing() && idle->isReadOnly() && !shortcutsOff());
    QStandardItemModel rows;
    for (int row = 0; row < 200; ++row) rows.appendRow(new QStandardItem(QStringLiteral("row %1").arg(row)));
    list->setModel(&rows);
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return list->verticalScrollBar()->maximum() > 0; }));
    auto* view = new View(list->viewport());
    view->setPlainText(QString(40, QLatin1Char('\n')));
    view->setGeometry(0, 0, 200, 40);
    view->show();
    QCoreApplication::processEvents();
    const QPointF at(10, 10);
    QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_TRUE(view->verticalScrollBar()->value() == 0 && list->verticalScrollBar()->value() > 0);
}

TEST_F(EditingControls, CommentSitsCentredInItsFirst45Points)
{
    const std::tuple<qreal, qreal, qreal> cases[] = {{55, 15, 15}, {30, 10, 10}, {45, 45, 0}, {40, 60, 0}, {100, 5, 20}};
    for (const auto& [height, text, inset] : cases)
        EXPECT_DOUBLE_EQ(View::verticalInsetFor(height, text), inset) << height << " " << text;
}

TEST_F(EditingControls, TypedCharactersOfEveryKindAndInputMethodCommitsMeetTheRule)
{
    RecordingDelegate names = nameRule();
    auto* field = editIn<Field>(names, QStringLiteral("ABCDEFGHI"));
    field->setCursorPosition(9);
    for (const QString& typed : {kGuitar, QString(QChar(0x200F)), QString(QChar(0xE000))}) {
        names.changes.clear();
        key(field, Qt::Key_unknown, Qt::NoModifier, typed);
        EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI")) << typed.toStdString();
        ASSERT_EQ(names.changes.size(), 1u) << typed.toStdString();
        EXPECT_EQ(std::get<2>(names.last()), typed.toStdString());
    }
    commitText(field, kGuitar);
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI"));
    commitText(field, QStringLiteral("J"));
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHIJ"));
    field->setText(QStringLiteral("AB"));
    field->setCursorPosition(2);
    // Kana committed by an input method go in as Latin letters, as typed ones do.
    commitText(field, QString::fromUtf8("\xE3\x81\x8B"));
    EXPECT_EQ(std::pair(field->text(), field->cursorPosition()), std::pair(QStringLiteral("ABka"), 4));
    // Half a character is refused, never stored as a question mark.
    commitText(field, QString(QChar(0xDC00)));
    EXPECT_EQ(field->text(), QStringLiteral("ABka"));
    RecordingDelegate comments = commentRule();
    auto* view = editIn<View>(comments, QStringLiteral("c"));
    commitText(view, QString::fromUtf8("\xE6\xBC\xA2"));
    key(view, Qt::Key_unknown, Qt::NoModifier, kGuitar);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("c"));
    EXPECT_EQ(comments.changes.size(), 2u);
    key(view, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    EXPECT_EQ(comments.changes.size(), 3u) << "a tab in a comment is text the rule sees";
    toEnd(view);
    commitText(view, QString(QChar(0xD800)));
    commitText(view, QStringLiteral("a") + QChar(0xDC00));
    key(view, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0xDC00)));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("\tc"));
    commitText(view, QStringLiteral("d"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("\tcd"));
}

TEST_F(EditingControls, ACompositionIsHeldToTheRoomLeftAndOneThatEndsWithNothingTakenKeepsTheText)
{
    RecordingDelegate comments = commentRule();
    auto* view = editIn<View>(comments, QStringLiteral("keep me"));
    view->selectAll();
    // Far past what a comment holds: shown only as far as the whole field's room, at once.
    compose(view, QString(100000, QLatin1Char('x')));
    EXPECT_EQ(shownComposition(*view).size(), 200);
    commitText(view, QString(100000, QLatin1Char('x')));
    EXPECT_EQ(std::pair(view->toPlainText(), view->textCursor().selectedText()), std::pair(QStringLiteral("keep me"), QStringLiteral("keep me")));
    // A composition given up, and one that fills what is left of the room.
    view->selectAll();
    compose(view, QStringLiteral("ab"));
    compose(view, QString());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("keep me"));
    toEnd(view);
    compose(view, QString(300, QLatin1Char('y')));
    EXPECT_EQ(shownComposition(*view).size(), 193);
    commitText(view, QStringLiteral("yy"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("keep meyy"));
    // A commit the rule takes replaces the selection the composition took away.
    view->selectAll();
    compose(view, QStringLiteral("ab"));
    commitText(view, QStringLiteral("ab"));
    EXPECT_EQ(view->toPlainText(), QStringLiteral("ab"));
    compose(view, QString());
    EXPECT_EQ(view->toPlainText(), QStringLiteral("ab"));
    RecordingDelegate names = nameRule();
    auto* field = editIn<Field>(names, QStringLiteral("ABC"));
    field->selectAll();
    compose(field, QStringLiteral("x"));
    commitText(field, kGuitar);
    EXPECT_EQ(std::pair(field->text(), field->selectedText()), std::pair(QStringLiteral("ABC"), QStringLiteral("ABC")));
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
    EXPECT_EQ(std::tuple(cut->preeditString(), cut->commitString(), cut->replacementStart(), cut->replacementLength()),
              std::tuple(QStringLiteral("ab"), QStringLiteral("z"), -1, 1));
    ASSERT_EQ(cut->attributes().size(), 2);
    EXPECT_EQ(std::pair(cut->attributes()[0].start, cut->attributes()[0].length), std::pair(2, 1));
    EXPECT_EQ(std::pair(cut->attributes()[1].start, cut->attributes()[1].length), std::pair(1, 1));
    EXPECT_EQ(InputMethodComposition::bounded(event, 0)->preeditString(), QString());
    EXPECT_EQ(InputMethodComposition::roomFor({QStringLiteral("abcd"), 1, 2, 3}, 10), 8u);
    EXPECT_EQ(InputMethodComposition::roomFor({QString(12, QLatin1Char('a')), 0, 0, 0}, 10), 0u);
}

TEST(RuleText, WritesUnpairedSurrogatesAsBytesNoRuleTakes)
{
    EXPECT_EQ(RuleText::of(QStringLiteral("plain")), "plain");
    EXPECT_EQ(RuleText::of(QString::fromUtf8("\xE6\xBC\xA2") + kGuitar), "\xE6\xBC\xA2\xF0\x9F\x8E\xB8");
    EXPECT_EQ(RuleText::of(QStringLiteral("a") + QChar(0xD800)), "a\xED\xA0\x80");
    EXPECT_EQ(RuleText::of(QString(QChar(0xDFFF)) + QStringLiteral("b")), "\xED\xBF\xBF" "b");
    // A high half followed by something other than its low half is alone too.
    EXPECT_EQ(RuleText::of(QString(QChar(0xD83C)) + QString(QChar(0xD83C)) + QChar(0xDFB8)), "\xED\xA0\xBC\xF0\x9F\x8E\xB8");
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
    RecordingDelegate comments = commentRule(), names = nameRule();
    auto* view = editIn<View>(comments, QStringLiteral("c"));
    ASSERT_TRUE(select(QString(1 << 20, QLatin1Char('m'))));
    testing_app::click(view->viewport(), {5, 5}, Qt::MiddleButton);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("c"));
    ASSERT_EQ(comments.changes.size(), 1u);
    EXPECT_EQ(std::get<2>(comments.last()).size(), std::size_t{1} << 20);
    ASSERT_TRUE(select(QStringLiteral("d")));
    testing_app::click(view->viewport(), {5, 5}, Qt::MiddleButton);
    EXPECT_EQ(view->toPlainText(), QStringLiteral("dc"));
    auto* field = editIn<Field>(names, QStringLiteral("ABCDEFGHI"));
    ASSERT_TRUE(select(kGuitar));
    testing_app::click(field, {5, 5}, Qt::MiddleButton);
    EXPECT_EQ(field->text(), QStringLiteral("ABCDEFGHI"));
    ASSERT_EQ(names.changes.size(), 1u);
    EXPECT_EQ(names.changes[0].second, kGuitar.toStdString());
}

}  // namespace
