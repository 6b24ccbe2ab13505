#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>

#include "app/dialogs/SheetButton.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/DialogWindow.h"
#include "app/views/InterfaceTexts.h"
#include "PatchCases.h"
#include "support/app/Contrast.h"

namespace {

using namespace testing_app;
using platform::PlistDictionary;
using Texts = std::pair<std::string, std::string>;  // a patch's name and comment

PlistDictionary effect(const std::string& name, std::int64_t units)
{
    return PlistDictionary{{"effectName", name}, {"useUnitNum", units}, {"effectType", std::int64_t{1}}};
}

TEST(ParseUsedEffectInPatch, SlotsReadAsNamesRepeatsAndNumbers)
{
    const auto count = [](std::int64_t count) { return std::pair<const std::string, platform::PlistValue>{"NumberOfSlot", count}; };
    const struct { const char* name; PlistDictionary effects; Names lines; } cases[] = {
        {"two slots, a gap and one", {count(4), {"slot 0", effect("A", 2)}, {"slot 3", effect("B", 1)}}, {"A", "(A)", "(3)", "B"}},
        {"no units reads the next slot", {count(2), {"slot 0", effect("A", 0)}, {"slot 1", effect("B", 1)}}, {"A", "(1)", "B"}},
        {"negative units count as none", {count(2), {"slot 0", effect("A", -3)}}, {"A", "(1)", "(2)"}},
        {"units past the slots stop at the last", {count(3), {"slot 1", effect("A", 1000000)}}, {"(1)", "A", "(A)"}},
        {"an empty slot dictionary is an empty slot", {count(1), {"slot 0", PlistDictionary{}}}, {"(1)"}},
        {"no slot count lists nothing", {{"slot 0", effect("A", 1)}}, {}},
        {"a negative slot count lists nothing", {count(-2)}, {}},
    };
    for (const auto& each : cases)
        EXPECT_EQ(PatchPropertyViewController::parseUsedEffectInPatch(each.effects), each.lines) << each.name;
}

bool drop(QWidget* on, const QString& text)
{
    QMimeData data;
    data.setText(text);
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QDropEvent event(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &event);
    return event.isAccepted();
}

void pressFocused(int code, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    key(QApplication::focusWidget(), code, modifiers, text);
}

class PatchPropertySheetsTest : public ::testing::Test {
protected:
    std::shared_ptr<PatchItem> patch(const std::string& name, const std::string& comment)
    {
        auto made = patchItem(name, comment);
        made->effectDictionnary = {{"NumberOfSlot", std::int64_t{2}}, {"slot 0", effect("Drive", 2)}};
        return made;
    }
    std::unique_ptr<PatchPropertyViewController> sheet(const std::shared_ptr<PatchItem>& patchItem)
    {
        auto made = std::make_unique<PatchPropertyViewController>(appDelegate, rules);
        made->setPatchItem(patchItem);
        made->setSaveActionBlock(logs(log, "save"));
        made->setCancelActionBlock(logs(log, "cancel"));
        made->view();
        return made;
    }
    // The sheet of `group`, made anew under `name`.
    std::unique_ptr<PatchGroupPropertyViewController> groupSheet(const std::string& name, bool backupAll = false)
    {
        group = groupNode(name, {}, backupAll);
        auto made = std::make_unique<PatchGroupPropertyViewController>(rules);
        made->setGroup(group);
        made->setSaveActionBlock(logs(log, "save group"));
        made->setCancelActionBlock(logs(log, "cancel group"));
        made->view();
        return made;
    }

    QApplication& app = testing_app::application();
    AppDelegate appDelegate;
    Log log;
    Node group;
    TextRuleContext rules{"en",
                          [] { return std::optional<std::string>(QApplication::clipboard()->text().toStdString()); },
                          [this](const std::string& text) { log.push_back("dialog " + text); },
                          [](const std::string& key) { return key; }};
};

TEST_F(PatchPropertySheetsTest, TheSheetShowsThePatchAndItsEffectsOnlyWithADevice)
{
    auto offline = sheet(patch("Lead", "Bright"));
    EXPECT_EQ(offline->patchNameTextField()->text(), QStringLiteral("Lead"));
    EXPECT_EQ(offline->patchCommentTextView()->toPlainText(), QStringLiteral("Bright"));
    EXPECT_TRUE(offline->effectListTextView()->toPlainText().isEmpty());
    EXPECT_TRUE(offline->saveButton()->isEnabled());
    EXPECT_EQ(offline->focusedButton(), offline->saveButton());

    appDelegate.setDeviceConnected(true);
    EXPECT_EQ(sheet(patch("Lead", "Bright"))->effectListTextView()->toPlainText(), QStringLiteral("Drive\n(Drive)"));
    EXPECT_FALSE(sheet(patch("", ""))->saveButton()->isEnabled());
}

// The live checks disable Save, showing nothing; Save writes a good text into the copy, and a refused one
// (set around the typing filter) keeps the sheet and the typing, with its own message. A stored text the
// rules would not take now (another tool wrote it) is no fault of an edit of the other field.
TEST_F(PatchPropertySheetsTest, SaveWritesTheTextsIntoTheCopyOrKeepsTheSheetOnARefusedText)
{
    const struct {
        const char* what;
        std::string storedName, storedComment;
        std::optional<std::string> name, comment;  // typed; none leaves the field
        bool nameLeft;                              // the keys left the name field
        std::string told;
    } cases[] = {
        {"a comment", "Lead", "old", std::nullopt, "new", false, "save"},
        {"a clean name", "Lead", "old", "Clean", std::nullopt, false, "save"},
        {"no name", "Lead", "old", "", std::nullopt, false, "dialog Patch_InvalidPatchName"},
        {"another script", "Lead", "old", "Caf\xC3\xA9", std::nullopt, false, "dialog Patch_NonAsciiPatchName"},
        {"eleven letters", "Lead", "old", "ABCDEFGHIJK", std::nullopt, false, "dialog Patch_LongPatchName"},
        {"a long comment", "Lead", "old", std::nullopt, std::string(201, 'a'), false, "dialog Patch_LongPatchComment"},
        {"a stored comment left", "Lead", "Caf\xC3\xA9", "Solo", std::nullopt, false, "save"},
        {"a stored name left", "Caf\xC3\xA9 Long Name", "old", std::nullopt, "new", true, "save"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.clear();
        const auto stored = patch(c.storedName, c.storedComment);
        auto shown = sheet(stored);
        if (c.name) shown->patchNameTextField()->setText(QString::fromStdString(*c.name));
        if (c.comment) shown->patchCommentTextView()->setPlainText(QString::fromStdString(*c.comment));
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        if (c.nameLeft) QApplication::sendEvent(shown->patchNameTextField(), &out);
        const bool saves = c.told == "save";
        EXPECT_EQ(shown->saveButton()->isEnabled(), saves);
        EXPECT_TRUE(log.empty());
        shown->saveButtonClicked();
        EXPECT_EQ(log, Log{c.told});
        EXPECT_EQ(Texts(stored->patchName, stored->patchComment), Texts(saves ? c.name.value_or(c.storedName) : c.storedName, saves ? c.comment.value_or(c.storedComment) : c.storedComment));
        if (!saves) {  // the typing stays for the user to mend
            EXPECT_EQ(shown->patchNameTextField()->text().toStdString(), c.name.value_or(c.storedName));
            EXPECT_EQ(shown->patchCommentTextView()->toPlainText().toStdString(), c.comment.value_or(c.storedComment));
        }
    }
    // A stored group name the rules would not take now is saved as it is.
    log.clear();
    groupSheet(".hidden")->saveButtonClicked();
    EXPECT_EQ(log, Log{"save group"});
    // A sheet with no blocks answers nothing.
    log.clear();
    PatchPropertyViewController blockless(appDelegate, rules);
    blockless.setPatchItem(patch("Lead", ""));
    blockless.view();
    blockless.patchNameTextField()->setText(QString());
    blockless.saveButtonClicked();
    EXPECT_TRUE(log.empty());
}

// Typed with Alt held, keyed, committed by an input method or dropped: the rules hold before the sheet
// sees the text. A dropped megabyte is refused before the view lays it out; a huge composition shows no
// further than the room and, refused, leaves the texts as they were.
TEST_F(PatchPropertySheetsTest, TextFromAnywhereMeetsTheRulesBeforeItReachesTheSheet)
{
    auto shown = sheet(patch("ABCDEFGHI", "c"));
    QLineEdit* name = shown->patchNameTextField();
    CustomTextViewForPatchProperty* comment = shown->patchCommentTextView();
    const QString guitar = QString::fromUtf8("\xF0\x9F\x8E\xB8");
    name->setCursorPosition(9);
    key(name, Qt::Key_unknown, Qt::NoModifier, guitar);
    commitText(name, guitar);
    commitText(name, QString(QChar(0x200F)));
    EXPECT_FALSE(drop(name, QStringLiteral("JK")));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHI"));
    name->setCursorPosition(9);
    commitText(name, QStringLiteral("J"));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHIJ"));
    name->setFocus();
    name->setCursorPosition(10);
    key(name, Qt::Key_K, Qt::AltModifier, QStringLiteral("k"));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHIJ"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());

    drop(comment->viewport(), QString(1 << 20, QLatin1Char('m')));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("c"));
    EXPECT_EQ(comment->document()->characterCount(), 2);
    commitText(comment, QString::fromUtf8("\xE6\xBC\xA2"));
    key(comment, Qt::Key_unknown, Qt::NoModifier, guitar);
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("c"));
    drop(comment->viewport(), QStringLiteral("d"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("dc"));

    const QString huge(100000, QLatin1Char('m'));
    for (QWidget* field : {static_cast<QWidget*>(comment), static_cast<QWidget*>(name)}) {
        comment->selectAll();
        name->selectAll();
        QInputMethodEvent composing(huge, {});
        QApplication::sendEvent(field, &composing);
        if (field == comment) {
            EXPECT_EQ(comment->textCursor().block().layout()->preeditAreaText().size(), 200);
        }
        commitText(field, huge);
    }
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("dc"));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHIJ"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
}

TEST_F(PatchPropertySheetsTest, KeysMoveTheButtonFocusAndTheFieldsInsertNoLineBreak)
{
    auto shown = sheet(patch("Lead", "abc"));
    for (const auto& [code, focused] : {std::pair{Qt::Key_Right, shown->cancelButton()}, {Qt::Key_Tab, shown->saveButton()},
                                        {Qt::Key_Left, shown->cancelButton()}}) {
        key(shown.get(), code);
        EXPECT_EQ(shown->focusedButton(), focused) << code;
    }
    key(shown.get(), Qt::Key_Return);
    EXPECT_EQ(log, Log{"cancel"});

    for (QWidget* field : {static_cast<QWidget*>(shown->patchNameTextField()), static_cast<QWidget*>(shown->patchCommentTextView())})
        key(field, Qt::Key_Return, Qt::ControlModifier, QStringLiteral("\n"));
    EXPECT_EQ(shown->patchNameTextField()->text(), QStringLiteral("Lead"));
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc"));

    // A paste the comment rule refuses changes nothing.
    QApplication::clipboard()->setText(QString(300, QLatin1Char('x')));
    key(shown->patchCommentTextView(), Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
    QApplication::clipboard()->setText(QStringLiteral("de"));
    key(shown->patchCommentTextView(), Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("deabc"));
}

// Escape answers as Cancel does, from either field or the sheet itself, in both sheets: what was typed is
// not kept. Keys go where the platform sends them: to the focused widget, on to the sheet when let by.
TEST_F(PatchPropertySheetsTest, EscapeAnswersAsCancelFromTheFieldsAndTheSheet)
{
    const auto stored = patch("Lead", "abc");
    auto shown = sheet(stored);
    auto groupShown = groupSheet("Live");
    shown->patchNameTextField()->setText(QStringLiteral("Rhythm"));
    groupShown->groupNameTextField()->setText(QStringLiteral("Gig"));
    for (const auto& [from, told] : std::vector<std::pair<QWidget*, std::string>>{
             {shown->patchNameTextField(), "cancel"}, {shown->patchCommentTextView(), "cancel"}, {shown.get(), "cancel"},
             {groupShown->groupNameTextField(), "cancel group"}, {groupShown.get(), "cancel group"}}) {
        log.clear();
        key(from, Qt::Key_Escape);
        EXPECT_EQ(log, Log{told}) << from->metaObject()->className();
    }
    EXPECT_EQ(stored->patchName, "Lead");
    EXPECT_EQ(group->name.value_or(""), "Live");
}

TEST_F(PatchPropertySheetsTest, TheGroupSheetLabelsByKindAndSavesOnlyAGoodName)
{
    const Node backup = groupNode("Backup", {nullptr, nullptr, nullptr}, true);
    backup->modelName = "Model X";
    PatchGroupPropertyViewController backupSheet(rules);
    backupSheet.setGroup(backup);
    backupSheet.view();
    EXPECT_EQ(backupSheet.titleLabel1()->text(), InterfaceTexts::localizedString("PatchPool_DeviceModel"));
    EXPECT_EQ(backupSheet.informationLabel1()->text(), QStringLiteral("Model X"));
    EXPECT_EQ(backupSheet.informationLabel2()->text(), QStringLiteral("3"));
    EXPECT_FALSE(backupSheet.titleLabel2()->isHidden());

    auto shown = groupSheet("Live");
    EXPECT_EQ(shown->titleLabel1()->text(), InterfaceTexts::localizedString("PatchPool_NumberOfPatch"));
    EXPECT_EQ(shown->informationLabel1()->text(), QStringLiteral("0"));
    EXPECT_TRUE(shown->titleLabel2()->isHidden());
    EXPECT_TRUE(shown->informationLabel2()->isHidden());
    key(shown->groupNameTextField(), Qt::Key_Return, Qt::ControlModifier, QStringLiteral("\n"));
    EXPECT_EQ(shown->groupNameTextField()->text(), QStringLiteral("Live"));
    for (const auto& [typed, kept] : {std::pair{"Live", "Live"}, {".hidden", "Live"}, {"LIVE", "LIVE"}}) {
        shown->groupNameTextField()->setText(QString::fromUtf8(typed));
        shown->saveButtonClicked();
        EXPECT_EQ(*group->name, kept);
    }
    EXPECT_EQ(log, (Log{"save group", "dialog Patch_InvalidGroupName", "save group"}));
}

// A name selected in either sheet reads on its highlight as the field draws it.
TEST_F(PatchPropertySheetsTest, ASelectedNameReadsAtLeastFourAndAHalfToOneOnItsHighlight)
{
    auto shown = sheet(patch("WWWW", ""));
    auto groupShown = groupSheet("WWWW");
    for (QLineEdit* field : {shown->patchNameTextField(), groupShown->groupNameTextField()}) {
        field->resize(200, 28);
        field->selectAll();
        const QImage shot = field->grab().toImage();
        EXPECT_GE(testing_app::selectedTextContrast(shot, shot.pixelColor(shot.width() - 5, shot.height() / 2)), 4.5);
    }
}

// A clipboard holding half a character: both name fields refuse the paste with the message that names
// it, where Qt's own conversion would have pasted a "?".
TEST_F(PatchPropertySheetsTest, PastedHalfACharacterIsRefusedWithItsMessageInBothNameFields)
{
    ShowingDialogQueue queue(appDelegate);
    rules.pasteboardString = QueuePatchDialogs::textRuleContext(queue, "en").pasteboardString;
    const QString pasted = QStringLiteral("AB") + QChar(0xD800);
    QApplication::clipboard()->setText(pasted);
    if (QApplication::clipboard()->text() != pasted) GTEST_SKIP() << "this clipboard does not keep half a character";
    auto shown = sheet(patch("Lead", ""));
    auto groupShown = groupSheet("Live");
    for (QLineEdit* field : {shown->patchNameTextField(), groupShown->groupNameTextField()}) {
        field->setCursorPosition(4);
        key(field, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    }
    EXPECT_EQ(shown->patchNameTextField()->text(), QStringLiteral("Lead"));
    EXPECT_EQ(groupShown->groupNameTextField()->text(), QStringLiteral("Live"));
    EXPECT_EQ(log, (Log{"dialog Patch_BrokenCharacterInPatchName", "dialog Patch_BrokenCharacterInGroupName"}));
    // A whole text still pastes.
    QApplication::clipboard()->setText(QStringLiteral("X"));
    key(groupShown->groupNameTextField(), Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    EXPECT_EQ(groupShown->groupNameTextField()->text(), QStringLiteral("LiveX"));
    QApplication::clipboard()->clear();
}

TEST_F(PatchPropertySheetsTest, TheCommentViewCopiesSelectsAllTakesF2AndCollapsesItsSelectionUnfocused)
{
    CustomTextViewForPatchProperty view;
    view.setPlainText(QStringLiteral("one two"));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    key(&view, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    key(&view, Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
    EXPECT_EQ(view.textCursor().selectedText(), QStringLiteral("one two"));
    key(&view, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("one two"));

    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&view, &out);
    EXPECT_FALSE(view.textCursor().hasSelection());
    EXPECT_EQ(view.textCursor().position(), 0);
    EXPECT_EQ(view.toPlainText(), QStringLiteral("one two"));

    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* comment = new CustomTextViewForPatchProperty(&window);
    activate(window);
    other->setFocus();
    ASSERT_TRUE(other->hasFocus());
    key(comment, Qt::Key_F2);
    EXPECT_TRUE(comment->hasFocus());
}

// Keys typed in a sheet's text field are the field's: Tab takes the typing to the next field and leaves
// the button mark alone, so the Return that follows answers Save with what was typed. Keys pressed on the
// sheet itself still move the mark.
TEST_F(PatchPropertySheetsTest, TabMovesTheTypingThroughTheFieldsOnToTheButtonsAndReturnSaves)
{
    const auto stored = patch("Lead", "abc");
    auto shown = sheet(stored);
    ASSERT_TRUE(activate(*shown));
    shown->patchNameTextField()->setFocus();
    shown->patchNameTextField()->selectAll();
    typeText(QStringLiteral("Rhythm 2"));
    pressFocused(Qt::Key_Tab);
    EXPECT_EQ(shown->focusWidget(), shown->patchCommentTextView());
    pressFocused(Qt::Key_Right);
    pressFocused(Qt::Key_Left);
    EXPECT_EQ(shown->focusedButton(), shown->saveButton());
    EXPECT_TRUE(shown->saveButton()->isDefault());
    EXPECT_FALSE(shown->cancelButton()->isDefault());
    // Shift+Tab before the first field reaches the buttons, and back from them to the last field.
    for (QWidget* next : {static_cast<QWidget*>(shown->patchNameTextField()), static_cast<QWidget*>(shown.get()),
                          static_cast<QWidget*>(shown->patchCommentTextView())}) {
        pressFocused(Qt::Key_Backtab, {}, Qt::ShiftModifier);
        EXPECT_EQ(shown->focusWidget(), next);
    }
    // Tab past the last field reaches the buttons, never the read-only list, and leaves the mark where it was.
    pressFocused(Qt::Key_Tab);
    EXPECT_EQ(shown->focusWidget(), shown.get());
    EXPECT_EQ(shown->focusedButton(), shown->saveButton());
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc")) << "Tab is no text in the comment";
    pressFocused(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, Log{"save"});
    EXPECT_EQ(Texts(stored->patchName, stored->patchComment), Texts("Rhythm 2", "abc"));
    // On the sheet itself, Tab moves the mark and Return answers the marked button: a keyboard can cancel.
    pressFocused(Qt::Key_Tab);
    EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
    pressFocused(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, (Log{"save", "cancel"}));

    // From the group sheet's only field Tab reaches the buttons with the mark still on Save, and Return saves.
    auto groupShown = groupSheet("Live");
    ASSERT_TRUE(activate(*groupShown));
    groupShown->groupNameTextField()->setFocus();
    groupShown->groupNameTextField()->selectAll();
    typeText(QStringLiteral("Gig"));
    pressFocused(Qt::Key_Tab);
    EXPECT_EQ(groupShown->focusWidget(), groupShown.get());
    EXPECT_TRUE(groupShown->saveButton()->isDefault());
    EXPECT_FALSE(groupShown->cancelButton()->isDefault());
    pressFocused(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, (Log{"save", "cancel", "save group"}));
    EXPECT_EQ(group->name.value_or(""), "Gig");
}

// Another window only borrows a sheet's keys: the program's window clicked, the sheet takes them back and
// the typing goes on where the caret and the selection were left, in both fields of a patch's sheet (the
// list's and the pool's) and in a group's name.
TEST_F(PatchPropertySheetsTest, BackFromAnotherWindowTheTypingGoesOnWhereItWasLeft)
{
    QWidget mainWindow;
    mainWindow.resize(500, 400);
    mainWindow.show();
    DialogWindow dialog(&mainWindow);
    const auto stored = patch("Lead 1Z", "Sheet text");
    auto shown = sheet(stored);
    dialog.setContentView(shown.get());
    ASSERT_TRUE(activate(dialog));
    // The program's window clicked under a window manager: the sheet is activated in passing, then the
    // main window, then the sheet for good.
    const auto awayAndBack = [&](QWidget& sheetWindow, QWidget* typing) {
        QWidget other;
        ASSERT_TRUE(testing_app::activateAnotherWindow(other));
        sheetWindow.activateWindow();
        mainWindow.activateWindow();
        QApplication::processEvents();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return sheetWindow.isActiveWindow(); }));
        ASSERT_EQ(QApplication::focusWidget(), typing);
    };
    QLineEdit* name = shown->patchNameTextField();
    name->setFocus();
    name->end(false);
    awayAndBack(dialog, name);
    typeText(QStringLiteral("Y"));
    EXPECT_EQ(name->text(), QStringLiteral("Lead 1ZY"));
    name->setSelection(5, 3);
    awayAndBack(dialog, name);
    typeText(QStringLiteral("2"));
    EXPECT_EQ(name->text(), QStringLiteral("Lead 2"));

    auto* comment = shown->patchCommentTextView();
    comment->setFocus(Qt::TabFocusReason);
    comment->moveCursor(QTextCursor::End);
    awayAndBack(dialog, comment);
    typeText(QStringLiteral(" more"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("Sheet text more"));
    QTextCursor selected = comment->textCursor();
    selected.setPosition(6);
    selected.setPosition(10, QTextCursor::KeepAnchor);
    comment->setTextCursor(selected);
    awayAndBack(dialog, comment);
    typeText(QStringLiteral("words"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("Sheet words more"));
    shown->saveButtonClicked();
    EXPECT_EQ(Texts(stored->patchName, stored->patchComment), Texts("Lead 2", "Sheet words more"));
    // Moving on within the sheet still leaves a field's text shown from its start.
    name->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(comment->textCursor().position(), 0);
    shown.reset();
    dialog.hide();

    DialogWindow groupDialog(&mainWindow);
    auto* groupShown = groupSheet("Live set").release();
    groupDialog.setContentView(groupShown);
    ASSERT_TRUE(activate(groupDialog));
    QLineEdit* groupName = groupShown->groupNameTextField();
    groupName->setFocus();
    groupName->setSelection(5, 3);
    awayAndBack(groupDialog, groupName);
    typeText(QStringLiteral("list"));
    EXPECT_EQ(groupName->text(), QStringLiteral("Live list"));
}

// Tab past the last field gives the keys to the sheet's buttons: the button that has them shows a focus
// frame and Tab moves it on; no button wears it while a field has the keys, and another window borrowing
// them leaves the mark where it was. With no button drawn as the default, nothing tells which button a
// field's Return presses: back in a field, by Shift+Tab or a click, Return answers Save with what was
// typed, whichever button the keys had marked. The same in both interface languages.
TEST_F(PatchPropertySheetsTest, TheButtonThatHasTheKeysShowsAFocusFrameAndAFieldsReturnSaves)
{
    const auto picture = [](QPushButton* button) { return button->grab().toImage(); };
    const auto framed = [](QPushButton* button) { return qobject_cast<SheetButton*>(button)->hasKeys(); };
    const std::vector<std::pair<QString, QString>> labels = {
        {QStringLiteral("Save"), QStringLiteral("Cancel")},
        {QStringLiteral("\u4FDD\u5B58"), QStringLiteral("\u30AD\u30E3\u30F3\u30BB\u30EB")}};
    for (const auto& [save, cancel] : labels) {
        SCOPED_TRACE(save.toStdString());
        log.clear();
        const auto stored = patch("Lead", "abc");
        auto shown = sheet(stored);
        shown->saveButton()->setText(save);
        shown->cancelButton()->setText(cancel);
        ASSERT_TRUE(activate(*shown));
        QPlainTextEdit* comment = shown->patchCommentTextView();
        comment->setFocus(Qt::MouseFocusReason);
        comment->moveCursor(QTextCursor::End);
        const QImage saveIdle = picture(shown->saveButton()), cancelIdle = picture(shown->cancelButton());
        pressFocused(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), shown.get());
        EXPECT_NE(picture(shown->saveButton()), saveIdle) << "Tab onto Save shows";
        EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);
        pressFocused(Qt::Key_Tab);
        EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
        EXPECT_EQ(picture(shown->saveButton()), saveIdle);
        EXPECT_NE(picture(shown->cancelButton()), cancelIdle) << "Tab onto Cancel shows";
        {  // Another window taking the keys takes the frame too; back, the mark and the frame are where they were.
            QWidget other;
            ASSERT_TRUE(testing_app::activateAnotherWindow(other));
            EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);
        }
        ASSERT_TRUE(activate(*shown));
        ASSERT_EQ(QApplication::focusWidget(), shown.get());
        EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
        EXPECT_TRUE(framed(shown->cancelButton()));
        EXPECT_NE(picture(shown->cancelButton()), cancelIdle);
        // Shift+Tab back into the comment: the keys are the field's, no button is framed, the mark is Save's.
        key(shown.get(), Qt::Key_Backtab, Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), comment);
        EXPECT_EQ(picture(shown->saveButton()), saveIdle);
        EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);
        EXPECT_EQ(shown->focusedButton(), shown->saveButton());
        EXPECT_FALSE(framed(shown->saveButton()));
        // The comment's own Return is a line break; the name's answers the sheet.
        typeText(QStringLiteral("x"));
        pressFocused(Qt::Key_Backtab, {}, Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), shown->patchNameTextField());
        shown->patchNameTextField()->end(false);
        typeText(QStringLiteral("y"));
        pressFocused(Qt::Key_Return, QStringLiteral("\r"));
        EXPECT_EQ(log, Log{"save"});
        EXPECT_EQ(std::pair(stored->patchName, stored->patchComment), Texts("Leady", "xabc"));

        // The group's sheet: Tab onto Save shows; its field clicked while the keys marked Cancel, Return saves.
        auto groupShown = groupSheet("Live");
        groupShown->saveButton()->setText(save);
        groupShown->cancelButton()->setText(cancel);
        ASSERT_TRUE(activate(*groupShown));
        QLineEdit* name = groupShown->groupNameTextField();
        name->setFocus(Qt::MouseFocusReason);
        const QImage groupSaveIdle = picture(groupShown->saveButton());
        pressFocused(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), groupShown.get());
        EXPECT_NE(picture(groupShown->saveButton()), groupSaveIdle) << "Tab onto the group's Save shows";
        pressFocused(Qt::Key_Tab);
        ASSERT_EQ(groupShown->focusedButton(), groupShown->cancelButton());
        name->setFocus(Qt::MouseFocusReason);
        name->end(false);
        typeText(QStringLiteral("s"));
        pressFocused(Qt::Key_Return, QStringLiteral("\r"));
        EXPECT_EQ(log, (Log{"save", "save group"}));
        EXPECT_EQ(group->name.value_or(""), "Lives");
    }
}

// A press in the name field while another window has the keys puts the caret where it landed: the window's
// activation, whether it comes before the press or after it, puts back no older selection over that.
TEST_F(PatchPropertySheetsTest, APressInTheNameWhileTheKeysAreAwayPutsTheCaretWhereItLanded)
{
    auto shown = sheet(patch("Lead 1", "abc"));
    auto groupShown = groupSheet("Live set");
    for (QLineEdit* name : {shown->patchNameTextField(), groupShown->groupNameTextField()}) {
        SCOPED_TRACE(name->text().toStdString());
        ASSERT_TRUE(activate(*name->window()));
        name->setFocus();
        name->setSelection(0, 4);
        QFocusEvent lent(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(name, &lent);
        int x = 0;
        while (x < name->width() && name->cursorPositionAt(QPoint(x, name->height() / 2)) < 2) ++x;
        ASSERT_EQ(name->cursorPositionAt(QPoint(x, name->height() / 2)), 2);
        click(name, QPoint(x, name->height() / 2));
        QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(name, &back);
        EXPECT_FALSE(name->hasSelectedText());
        EXPECT_EQ(name->cursorPosition(), 2);
        name->window()->hide();
    }
}

}  // namespace
