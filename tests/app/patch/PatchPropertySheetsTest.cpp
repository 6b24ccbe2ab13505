#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QImage>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/ShowingDialogQueue.h"
#include "app/patch/CustomTextViewForPatchProperty.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/patch/QueuePatchDialogs.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/DialogWindow.h"
#include "app/dialogs/SheetButton.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/app/Contrast.h"
#include "support/app/TestApplication.h"

namespace {

using platform::PlistDictionary;

PlistDictionary effect(const std::string& name, std::int64_t units)
{
    return PlistDictionary{{"effectName", name}, {"useUnitNum", units}, {"effectType", std::int64_t{1}}};
}

TEST(ParseUsedEffectInPatch, SlotsReadAsNamesRepeatsAndNumbers)
{
    struct Case {
        const char* name;
        PlistDictionary effects;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"two slots, a gap and one",
         {{"NumberOfSlot", std::int64_t{4}}, {"slot 0", effect("A", 2)}, {"slot 3", effect("B", 1)}},
         {"A", "(A)", "(3)", "B"}},
        {"no units reads the next slot",
         {{"NumberOfSlot", std::int64_t{2}}, {"slot 0", effect("A", 0)}, {"slot 1", effect("B", 1)}},
         {"A", "(1)", "B"}},
        {"negative units count as none",
         {{"NumberOfSlot", std::int64_t{2}}, {"slot 0", effect("A", -3)}},
         {"A", "(1)", "(2)"}},
        {"units past the slots stop at the last",
         {{"NumberOfSlot", std::int64_t{3}}, {"slot 1", effect("A", 1000000)}},
         {"(1)", "A", "(A)"}},
        {"an empty slot dictionary is an empty slot",
         {{"NumberOfSlot", std::int64_t{1}}, {"slot 0", PlistDictionary{}}},
         {"(1)"}},
        {"no slot count lists nothing", {{"slot 0", effect("A", 1)}}, {}},
        {"a negative slot count lists nothing", {{"NumberOfSlot", std::int64_t{-2}}}, {}},
    };
    for (const auto& each : cases)
        EXPECT_EQ(PatchPropertyViewController::parseUsedEffectInPatch(each.effects), each.lines) << each.name;
}

QKeyEvent key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = QString())
{
    return QKeyEvent(QEvent::KeyPress, code, modifiers, text);
}

class PatchPropertySheetsTest : public ::testing::Test {
protected:
    std::shared_ptr<PatchItem> patch(const std::string& name, const std::string& comment)
    {
        auto item = std::make_shared<PatchItem>();
        item->patchName = name;
        item->patchComment = comment;
        item->effectDictionnary = {{"NumberOfSlot", std::int64_t{2}}, {"slot 0", effect("Drive", 2)}};
        return item;
    }
    std::unique_ptr<PatchPropertyViewController> sheet(const std::shared_ptr<PatchItem>& item)
    {
        auto made = std::make_unique<PatchPropertyViewController>(appDelegate, rules);
        made->setPatchItem(item);
        made->setSaveActionBlock([this] { log.push_back("save"); });
        made->setCancelActionBlock([this] { log.push_back("cancel"); });
        made->view();
        return made;
    }

    QApplication& app = testing_app::application();
    AppDelegate appDelegate;
    std::vector<std::string> log;
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
    auto online = sheet(patch("Lead", "Bright"));
    EXPECT_EQ(online->effectListTextView()->toPlainText(), QStringLiteral("Drive\n(Drive)"));
    auto blank = sheet(patch("", ""));
    EXPECT_FALSE(blank->saveButton()->isEnabled());
}

TEST_F(PatchPropertySheetsTest, TheLiveChecksEnableSaveOnlyForAGoodName)
{
    auto shown = sheet(patch("Lead", ""));
    shown->patchNameTextField()->setText(QString());
    EXPECT_TRUE(shown->wrongName());
    EXPECT_FALSE(shown->saveButton()->isEnabled());
    shown->patchNameTextField()->setText(QStringLiteral("Far too long a name"));
    EXPECT_FALSE(shown->saveButton()->isEnabled());
    shown->patchNameTextField()->setText(QStringLiteral("Clean"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
    EXPECT_TRUE(log.empty());
}

TEST_F(PatchPropertySheetsTest, SaveWritesTheTextsIntoTheCopyOrKeepsTheSheetOnARefusedText)
{
    const auto item = patch("Lead", "old");
    auto shown = sheet(item);
    shown->patchCommentTextView()->setPlainText(QStringLiteral("new"));
    shown->saveButtonClicked();
    EXPECT_EQ(item->patchComment, "new");
    EXPECT_EQ(log, std::vector<std::string>{"save"});

    log.clear();
    shown->patchNameTextField()->setText(QString());
    shown->saveButtonClicked();
    EXPECT_EQ(log, (std::vector<std::string>{"dialog Patch_InvalidPatchName"}));
    EXPECT_EQ(item->patchName, "Lead");

    // A text set around the typing filter meets the limits at Save, each with its own message.
    for (const auto& [name, message] : {std::pair{"Caf\xC3\xA9", "Patch_NonAsciiPatchName"},
                                        std::pair{"ABCDEFGHIJK", "Patch_LongPatchName"}}) {
        log.clear();
        shown->patchNameTextField()->setText(QString::fromUtf8(name));
        EXPECT_FALSE(shown->saveButton()->isEnabled());
        shown->saveButtonClicked();
        EXPECT_EQ(log, (std::vector<std::string>{std::string("dialog ") + message}));
    }
    log.clear();
    shown->patchNameTextField()->setText(QStringLiteral("Lead"));
    shown->patchCommentTextView()->setPlainText(QString(201, QLatin1Char('a')));
    EXPECT_FALSE(shown->saveButton()->isEnabled());
    shown->saveButtonClicked();
    EXPECT_EQ(log, (std::vector<std::string>{"dialog Patch_LongPatchComment"}));
    EXPECT_EQ(item->patchComment, "new");
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText().size(), 201) << "the typing stays for the user to mend";

    log.clear();
    PatchPropertyViewController blockless(appDelegate, rules);
    blockless.setPatchItem(item);
    blockless.view();
    blockless.patchNameTextField()->setText(QString());
    blockless.saveButtonClicked();
    EXPECT_TRUE(log.empty());
}

// A stored text the rules would not take now (another tool wrote it) is no fault of an edit of the other
// field, nor of a Save that leaves it as it was.
TEST_F(PatchPropertySheetsTest, OnlyAChangedFieldMeetsTheRulesAtSave)
{
    const auto comment = patch("Lead", "Caf\xC3\xA9");
    auto renamed = sheet(comment);
    renamed->patchNameTextField()->setText(QStringLiteral("Solo"));
    EXPECT_TRUE(renamed->saveButton()->isEnabled());
    renamed->saveButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"save"});
    EXPECT_EQ(comment->patchName, "Solo");
    EXPECT_EQ(comment->patchComment, "Caf\xC3\xA9");

    log.clear();
    const auto name = patch("Caf\xC3\xA9 Long Name", "old");
    auto commented = sheet(name);
    commented->patchCommentTextView()->setPlainText(QStringLiteral("new"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(commented->patchNameTextField(), &out);
    EXPECT_TRUE(commented->saveButton()->isEnabled());
    commented->saveButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"save"});
    EXPECT_EQ(name->patchComment, "new");

    log.clear();
    auto group = std::make_shared<DirectoryObject>();
    group->name = ".hidden";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.setSaveActionBlock([this] { log.push_back("save"); });
    groupSheet.view();
    groupSheet.saveButtonClicked();
    EXPECT_EQ(log, std::vector<std::string>{"save"});
}

TEST_F(PatchPropertySheetsTest, ACharacterTypedWithAltHeldMeetsTheNameRule)
{
    auto shown = sheet(patch("ABCDEFGHIJ", ""));
    shown->patchNameTextField()->setFocus();
    shown->patchNameTextField()->setCursorPosition(10);
    QKeyEvent altK = key(Qt::Key_K, Qt::AltModifier, QStringLiteral("k"));
    QApplication::sendEvent(shown->patchNameTextField(), &altK);
    EXPECT_EQ(shown->patchNameTextField()->text(), QStringLiteral("ABCDEFGHIJ"));
}

namespace {

void commit(QWidget* to, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(to, &event);
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

const QString kGuitar = QString::fromUtf8("\xF0\x9F\x8E\xB8");

}  // namespace

TEST_F(PatchPropertySheetsTest, TextFromAnywhereMeetsTheRulesBeforeItReachesTheSheet)
{
    auto shown = sheet(patch("ABCDEFGHI", "c"));
    QLineEdit* name = shown->patchNameTextField();
    CustomTextViewForPatchProperty* comment = shown->patchCommentTextView();
    name->setCursorPosition(9);

    QKeyEvent guitar(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, kGuitar);
    QApplication::sendEvent(name, &guitar);
    commit(name, kGuitar);
    commit(name, QString(QChar(0x200F)));
    EXPECT_FALSE(drop(name, QStringLiteral("JK")));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHI"));
    name->setCursorPosition(9);
    commit(name, QStringLiteral("J"));
    EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHIJ"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());

    // A dropped megabyte is refused before the view lays it out.
    drop(comment->viewport(), QString(1 << 20, QLatin1Char('m')));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("c"));
    EXPECT_EQ(comment->document()->characterCount(), 2);
    commit(comment, QString::fromUtf8("\xE6\xBC\xA2"));
    QApplication::sendEvent(comment, &guitar);
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("c"));
    drop(comment->viewport(), QStringLiteral("d"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("dc"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
}

TEST_F(PatchPropertySheetsTest, AHugeCompositionShowsNoFurtherThanTheRoomAndLeavesTheTextsAsTheyWere)
{
    auto shown = sheet(patch("ABC", "kept comment"));
    CustomTextViewForPatchProperty* comment = shown->patchCommentTextView();
    comment->selectAll();
    const QString huge(100000, QLatin1Char('m'));
    QInputMethodEvent composing(huge, {});
    QApplication::sendEvent(comment, &composing);
    EXPECT_EQ(comment->textCursor().block().layout()->preeditAreaText().size(), 200);
    commit(comment, huge);
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("kept comment"));

    // The name field is held to its own room, and a refused commit leaves the name.
    QLineEdit* name = shown->patchNameTextField();
    name->selectAll();
    QInputMethodEvent naming(huge, {});
    QApplication::sendEvent(name, &naming);
    commit(name, huge);
    EXPECT_EQ(name->text(), QStringLiteral("ABC"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
}

TEST_F(PatchPropertySheetsTest, KeysMoveTheButtonFocusAndTheFieldsInsertNoLineBreak)
{
    auto shown = sheet(patch("Lead", "abc"));
    struct Step {
        int key;
        QPushButton* focused;
    };
    const std::vector<Step> steps = {{Qt::Key_Right, shown->cancelButton()},
                                     {Qt::Key_Tab, shown->saveButton()},
                                     {Qt::Key_Left, shown->cancelButton()}};
    for (const auto& step : steps) {
        QKeyEvent event = key(step.key);
        QApplication::sendEvent(shown.get(), &event);
        EXPECT_EQ(shown->focusedButton(), step.focused) << step.key;
    }
    QKeyEvent enter = key(Qt::Key_Return);
    QApplication::sendEvent(shown.get(), &enter);
    EXPECT_EQ(log, std::vector<std::string>{"cancel"});

    QKeyEvent lineBreak = key(Qt::Key_Return, Qt::ControlModifier, QStringLiteral("\n"));
    QApplication::sendEvent(shown->patchNameTextField(), &lineBreak);
    QApplication::sendEvent(shown->patchCommentTextView(), &lineBreak);
    EXPECT_EQ(shown->patchNameTextField()->text(), QStringLiteral("Lead"));
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc"));

    // A paste the comment rule refuses changes nothing.
    QApplication::clipboard()->setText(QString(300, QLatin1Char('x')));
    QKeyEvent paste = key(Qt::Key_V, Qt::ControlModifier, QStringLiteral("v"));
    QApplication::sendEvent(shown->patchCommentTextView(), &paste);
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc"));
    EXPECT_TRUE(shown->saveButton()->isEnabled());
    QApplication::clipboard()->setText(QStringLiteral("de"));
    QApplication::sendEvent(shown->patchCommentTextView(), &paste);
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("deabc"));
}

// Escape answers as Cancel does, in either field or on the sheet itself, in both sheets: what was typed
// is not kept. Keys go where the platform sends them: to the focused widget, on to the sheet when let by.
TEST_F(PatchPropertySheetsTest, EscapeAnswersAsCancelFromTheFieldsAndTheSheet)
{
    const auto escapeFrom = [](QWidget* widget) {
        QKeyEvent escape = key(Qt::Key_Escape);
        QApplication::sendEvent(widget, &escape);
    };
    const auto item = patch("Lead", "abc");
    auto shown = sheet(item);
    shown->patchNameTextField()->setText(QStringLiteral("Rhythm"));
    for (QWidget* from : std::vector<QWidget*>{shown->patchNameTextField(), shown->patchCommentTextView(), shown.get()}) {
        log.clear();
        escapeFrom(from);
        EXPECT_EQ(log, std::vector<std::string>{"cancel"}) << from->metaObject()->className();
    }
    EXPECT_EQ(item->patchName, "Lead");

    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.setSaveActionBlock([this] { log.push_back("save group"); });
    groupSheet.setCancelActionBlock([this] { log.push_back("cancel group"); });
    groupSheet.view();
    groupSheet.groupNameTextField()->setText(QStringLiteral("Gig"));
    for (QWidget* from : std::vector<QWidget*>{groupSheet.groupNameTextField(), &groupSheet}) {
        log.clear();
        escapeFrom(from);
        EXPECT_EQ(log, std::vector<std::string>{"cancel group"}) << from->metaObject()->className();
    }
    EXPECT_EQ(group->name.value_or(""), "Live");
}

TEST_F(PatchPropertySheetsTest, TheGroupSheetLabelsByKindAndSavesOnlyAGoodName)
{
    auto backup = std::make_shared<DirectoryObject>();
    backup->name = "Backup";
    backup->isGroup = backup->isBackUpAllGroup = true;
    backup->modelName = "Model X";
    backup->childDirectories.resize(3);
    PatchGroupPropertyViewController backupSheet(rules);
    backupSheet.setGroup(backup);
    backupSheet.view();
    EXPECT_EQ(backupSheet.titleLabel1()->text(), InterfaceTexts::localizedString("PatchPool_DeviceModel"));
    EXPECT_EQ(backupSheet.informationLabel1()->text(), QStringLiteral("Model X"));
    EXPECT_EQ(backupSheet.informationLabel2()->text(), QStringLiteral("3"));
    EXPECT_FALSE(backupSheet.titleLabel2()->isHidden());

    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    PatchGroupPropertyViewController sheet(rules);
    sheet.setGroup(group);
    sheet.setSaveActionBlock([this] { log.push_back("save"); });
    sheet.setCancelActionBlock([this] { log.push_back("cancel"); });
    sheet.view();
    EXPECT_EQ(sheet.titleLabel1()->text(), InterfaceTexts::localizedString("PatchPool_NumberOfPatch"));
    EXPECT_EQ(sheet.informationLabel1()->text(), QStringLiteral("0"));
    EXPECT_TRUE(sheet.titleLabel2()->isHidden());
    EXPECT_TRUE(sheet.informationLabel2()->isHidden());

    sheet.saveButtonClicked();
    EXPECT_EQ(*group->name, "Live");
    QKeyEvent lineBreak = key(Qt::Key_Return, Qt::ControlModifier, QStringLiteral("\n"));
    QApplication::sendEvent(sheet.groupNameTextField(), &lineBreak);
    EXPECT_EQ(sheet.groupNameTextField()->text(), QStringLiteral("Live"));
    sheet.groupNameTextField()->setText(QStringLiteral(".hidden"));
    sheet.saveButtonClicked();
    EXPECT_EQ(*group->name, "Live");
    sheet.groupNameTextField()->setText(QStringLiteral("LIVE"));
    sheet.saveButtonClicked();
    EXPECT_EQ(*group->name, "LIVE");
    EXPECT_EQ(log, (std::vector<std::string>{"save", "dialog Patch_InvalidGroupName", "save"}));
}

// A name selected in either sheet reads on its highlight as the field draws it.
TEST_F(PatchPropertySheetsTest, ASelectedNameReadsAtLeastFourAndAHalfToOneOnItsHighlight)
{
    const auto contrastOf = [](QLineEdit& field) {
        field.resize(200, 28);
        field.selectAll();
        const QImage shot = field.grab().toImage();
        return testing_app::selectedTextContrast(shot, shot.pixelColor(shot.width() - 5, shot.height() / 2));
    };
    auto shown = sheet(patch("WWWW", ""));
    EXPECT_GE(contrastOf(*shown->patchNameTextField()), 4.5);
    auto group = std::make_shared<DirectoryObject>();
    group->name = "WWWW";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.view();
    EXPECT_GE(contrastOf(*groupSheet.groupNameTextField()), 4.5);
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
    QKeyEvent paste = key(Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));

    auto shown = sheet(patch("Lead", ""));
    shown->patchNameTextField()->setCursorPosition(4);
    QApplication::sendEvent(shown->patchNameTextField(), &paste);
    EXPECT_EQ(shown->patchNameTextField()->text(), QStringLiteral("Lead"));

    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.view();
    groupSheet.groupNameTextField()->setCursorPosition(4);
    QApplication::sendEvent(groupSheet.groupNameTextField(), &paste);
    EXPECT_EQ(groupSheet.groupNameTextField()->text(), QStringLiteral("Live"));
    EXPECT_EQ(log, (std::vector<std::string>{"dialog Patch_BrokenCharacterInPatchName",
                                             "dialog Patch_BrokenCharacterInGroupName"}));
    // A whole text still pastes.
    QApplication::clipboard()->setText(QStringLiteral("X"));
    QApplication::sendEvent(groupSheet.groupNameTextField(), &paste);
    EXPECT_EQ(groupSheet.groupNameTextField()->text(), QStringLiteral("LiveX"));
    QApplication::clipboard()->clear();
}

TEST_F(PatchPropertySheetsTest, TheCommentViewCopiesSelectsAllTakesF2AndCollapsesItsSelectionUnfocused)
{
    CustomTextViewForPatchProperty view;
    view.setPlainText(QStringLiteral("one two"));
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QKeyEvent copy = key(Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(&view, &copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    QKeyEvent all = key(Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
    QApplication::sendEvent(&view, &all);
    EXPECT_EQ(view.textCursor().selectedText(), QStringLiteral("one two"));
    QApplication::sendEvent(&view, &copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("one two"));

    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&view, &out);
    EXPECT_FALSE(view.textCursor().hasSelection());
    EXPECT_EQ(view.textCursor().position(), 0);
    EXPECT_EQ(view.toPlainText(), QStringLiteral("one two"));

    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* comment = new CustomTextViewForPatchProperty(&window);
    window.show();
    window.activateWindow();
    QApplication::processEvents();
    other->setFocus();
    ASSERT_TRUE(other->hasFocus());
    QKeyEvent f2 = key(Qt::Key_F2);
    QApplication::sendEvent(comment, &f2);
    EXPECT_TRUE(comment->hasFocus());
}


// Keys typed in a sheet's text field are the field's: Tab takes the typing to the next field and leaves
// the button mark alone, so the Return that follows in the field answers Save with what was typed. Keys
// pressed on the sheet itself still move the mark.
TEST_F(PatchPropertySheetsTest, TabMovesTheTypingThroughTheFieldsOnToTheButtonsAndReturnSaves)
{
    const auto item = patch("Lead", "abc");
    auto shown = sheet(item);
    shown->show();
    shown->activateWindow();
    QApplication::processEvents();
    shown->patchNameTextField()->setFocus();
    shown->patchNameTextField()->selectAll();
    // Keys go where the platform sends them: to the focused field, and on to the sheet when it lets them by.
    const auto press = [&](int code, const QString& text = QString(), Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event = key(code, modifiers, text);
        QApplication::sendEvent(shown->focusWidget(), &event);
    };
    for (const QChar typed : QStringLiteral("Rhythm 2")) press(0, QString(typed));
    press(Qt::Key_Tab);
    EXPECT_EQ(shown->focusWidget(), shown->patchCommentTextView());
    press(Qt::Key_Right);
    press(Qt::Key_Left);
    EXPECT_EQ(shown->focusedButton(), shown->saveButton());
    EXPECT_TRUE(shown->saveButton()->isDefault());
    EXPECT_FALSE(shown->cancelButton()->isDefault());
    press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    EXPECT_EQ(shown->focusWidget(), shown->patchNameTextField());
    // Shift+Tab before the first field reaches the buttons, and back from them to the last field.
    press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    EXPECT_EQ(shown->focusWidget(), shown.get());
    press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    EXPECT_EQ(shown->focusWidget(), shown->patchCommentTextView());
    // Tab past the last field reaches the buttons, never the read-only list, and leaves the mark where it was.
    press(Qt::Key_Tab);
    EXPECT_EQ(shown->focusWidget(), shown.get());
    EXPECT_EQ(shown->focusedButton(), shown->saveButton());
    EXPECT_EQ(shown->patchCommentTextView()->toPlainText(), QStringLiteral("abc")) << "Tab is no text in the comment";
    press(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, std::vector<std::string>{"save"});
    EXPECT_EQ(item->patchName, "Rhythm 2");
    EXPECT_EQ(item->patchComment, "abc");

    // On the sheet itself, Tab moves the mark and Return answers the marked button: a keyboard can cancel.
    log.clear();
    press(Qt::Key_Tab);
    EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
    press(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, std::vector<std::string>{"cancel"});

    // From the group sheet's only field Tab reaches the buttons with the mark still on Save, and Return saves.
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.setSaveActionBlock([this] { log.push_back("save group"); });
    groupSheet.setCancelActionBlock([this] { log.push_back("cancel group"); });
    groupSheet.view();
    groupSheet.show();
    groupSheet.groupNameTextField()->setFocus();
    groupSheet.groupNameTextField()->selectAll();
    const auto pressInGroup = [&](int code, const QString& text = QString()) {
        QKeyEvent event = key(code, Qt::NoModifier, text);
        QApplication::sendEvent(groupSheet.focusWidget(), &event);
    };
    for (const QChar typed : QStringLiteral("Gig")) pressInGroup(0, QString(typed));
    pressInGroup(Qt::Key_Tab);
    EXPECT_EQ(groupSheet.focusWidget(), &groupSheet);
    EXPECT_TRUE(groupSheet.saveButton()->isDefault());
    EXPECT_FALSE(groupSheet.cancelButton()->isDefault());
    pressInGroup(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, (std::vector<std::string>{"cancel", "save group"}));
    EXPECT_EQ(group->name.value_or(""), "Gig");
}

// Another window only borrows a sheet's keys: the program's window clicked, the sheet takes them back and
// the typing goes on where the caret and the selection were left, in both fields of a patch's sheet (the
// list's and the pool's) and in a group's name. Keys go where the platform sends them.
TEST_F(PatchPropertySheetsTest, BackFromAnotherWindowTheTypingGoesOnWhereItWasLeft)
{
    QWidget mainWindow;
    mainWindow.resize(500, 400);
    mainWindow.show();
    DialogWindow dialog(&mainWindow);
    const auto item = patch("Lead 1Z", "Sheet text");
    auto shown = sheet(item);
    dialog.setContentView(shown.get());
    dialog.show();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return dialog.isActiveWindow(); }));
    const auto type = [](const QString& text) {
        for (const QChar typed : text) {
            QKeyEvent event = key(0, Qt::NoModifier, QString(typed));
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
    };
    // The program's window clicked under a window manager: the sheet is activated in passing, then the
    // main window, then the sheet for good.
    const auto comeBack = [&](QWidget& sheetWindow) {
        sheetWindow.activateWindow();
        mainWindow.activateWindow();
        QApplication::processEvents();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return sheetWindow.isActiveWindow(); }));
    };
    const auto awayAndBack = [&](QWidget* typing) {
        QWidget other;
        ASSERT_TRUE(testing_app::activateAnotherWindow(other));
        comeBack(dialog);
        ASSERT_EQ(QApplication::focusWidget(), typing);
    };
    QLineEdit* name = shown->patchNameTextField();
    name->setFocus();
    name->end(false);
    awayAndBack(name);
    type(QStringLiteral("Y"));
    EXPECT_EQ(name->text(), QStringLiteral("Lead 1ZY"));
    name->setSelection(5, 3);
    awayAndBack(name);
    type(QStringLiteral("2"));
    EXPECT_EQ(name->text(), QStringLiteral("Lead 2"));

    auto* comment = shown->patchCommentTextView();
    comment->setFocus(Qt::TabFocusReason);
    comment->moveCursor(QTextCursor::End);
    awayAndBack(comment);
    type(QStringLiteral(" more"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("Sheet text more"));
    QTextCursor selected = comment->textCursor();
    selected.setPosition(6);
    selected.setPosition(10, QTextCursor::KeepAnchor);
    comment->setTextCursor(selected);
    awayAndBack(comment);
    type(QStringLiteral("words"));
    EXPECT_EQ(comment->toPlainText(), QStringLiteral("Sheet words more"));
    shown->saveButtonClicked();
    EXPECT_EQ(item->patchName, "Lead 2");
    EXPECT_EQ(item->patchComment, "Sheet words more");
    // Moving on within the sheet still leaves a field's text shown from its start.
    name->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(comment->textCursor().position(), 0);
    shown.reset();
    dialog.hide();

    DialogWindow groupDialog(&mainWindow);
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live set";
    group->isGroup = true;
    auto* groupSheet = new PatchGroupPropertyViewController(rules);
    groupSheet->setGroup(group);
    groupSheet->view();
    groupDialog.setContentView(groupSheet);
    groupDialog.show();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return groupDialog.isActiveWindow(); }));
    QLineEdit* groupName = groupSheet->groupNameTextField();
    groupName->setFocus();
    groupName->setSelection(5, 3);
    QWidget other;
    ASSERT_TRUE(testing_app::activateAnotherWindow(other));
    comeBack(groupDialog);
    type(QStringLiteral("list"));
    EXPECT_EQ(groupName->text(), QStringLiteral("Live list"));
}

// Tab past the last field gives the keys to the sheet's buttons: the button that has them shows a focus
// frame, so the step shows on screen, and Tab moves the frame on; no button wears it while a field has the
// keys. The same in both interface languages.
TEST_F(PatchPropertySheetsTest, TheButtonThatHasTheKeysShowsAFocusFrame)
{
    const auto picture = [](QPushButton* button) { return button->grab().toImage(); };
    const std::vector<std::pair<QString, QString>> labels = {
        {QStringLiteral("Save"), QStringLiteral("Cancel")},
        {QStringLiteral("\u4FDD\u5B58"), QStringLiteral("\u30AD\u30E3\u30F3\u30BB\u30EB")}};
    for (const auto& [save, cancel] : labels) {
        SCOPED_TRACE(save.toStdString());
        auto shown = sheet(patch("Lead", "abc"));
        shown->saveButton()->setText(save);
        shown->cancelButton()->setText(cancel);
        shown->show();
        shown->activateWindow();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return shown->isActiveWindow(); }));
        shown->patchCommentTextView()->setFocus();
        const QImage saveIdle = picture(shown->saveButton()), cancelIdle = picture(shown->cancelButton());
        const auto press = [&](int code) {
            QKeyEvent event = key(code);
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        };
        press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), shown.get());
        EXPECT_NE(picture(shown->saveButton()), saveIdle) << "Tab onto Save shows";
        EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);
        press(Qt::Key_Tab);
        EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
        EXPECT_EQ(picture(shown->saveButton()), saveIdle);
        EXPECT_NE(picture(shown->cancelButton()), cancelIdle) << "Tab onto Cancel shows";
        // Another window taking the keys takes the frame too; back, it shows again.
        QWidget other;
        ASSERT_TRUE(testing_app::activateAnotherWindow(other));
        EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);
        shown->activateWindow();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return shown->isActiveWindow(); }));
        EXPECT_NE(picture(shown->cancelButton()), cancelIdle);
        // Shift+Tab back into the comment: the keys are the field's, no button is framed.
        QKeyEvent back = key(Qt::Key_Backtab, Qt::ShiftModifier);
        QApplication::sendEvent(shown.get(), &back);
        ASSERT_EQ(QApplication::focusWidget(), shown->patchCommentTextView());
        EXPECT_EQ(picture(shown->saveButton()), saveIdle);
        EXPECT_EQ(picture(shown->cancelButton()), cancelIdle);

        PatchGroupPropertyViewController groupSheet(rules);
        groupSheet.view();
        groupSheet.saveButton()->setText(save);
        groupSheet.cancelButton()->setText(cancel);
        groupSheet.show();
        groupSheet.activateWindow();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return groupSheet.isActiveWindow(); }));
        groupSheet.groupNameTextField()->setFocus();
        const QImage groupSaveIdle = picture(groupSheet.saveButton());
        press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), &groupSheet);
        EXPECT_NE(picture(groupSheet.saveButton()), groupSaveIdle) << "Tab onto the group's Save shows";
    }
}

// With no button drawn as the default, nothing on screen tells which button a field's Return presses: once
// the keys are back in a field, by Shift+Tab or a click, Return there answers Save with what was typed,
// whichever button the keys had marked before. Away to another window and back, the mark stays.
TEST_F(PatchPropertySheetsTest, BackInAFieldFromTheButtonsReturnSavesWhatWasTyped)
{
    const auto item = patch("Lead", "abc");
    auto shown = sheet(item);
    shown->show();
    shown->activateWindow();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return shown->isActiveWindow(); }));
    const auto press = [&](int code, const QString& text = QString(), Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event = key(code, modifiers, text);
        QApplication::sendEvent(QApplication::focusWidget(), &event);
    };
    QPlainTextEdit* comment = shown->patchCommentTextView();
    comment->setFocus(Qt::MouseFocusReason);
    comment->moveCursor(QTextCursor::End);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    ASSERT_EQ(shown->focusedButton(), shown->cancelButton());
    // Another window borrowing the keys leaves the mark where the keyboard put it.
    {
        QWidget other;
        ASSERT_TRUE(testing_app::activateAnotherWindow(other));
    }
    shown->activateWindow();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return shown->isActiveWindow(); }));
    ASSERT_EQ(QApplication::focusWidget(), shown.get());
    EXPECT_EQ(shown->focusedButton(), shown->cancelButton());
    const auto framed = [](QPushButton* button) { return qobject_cast<SheetButton*>(button)->hasKeys(); };
    EXPECT_TRUE(framed(shown->cancelButton()));

    // The comment's own Return is a line break; the name's answers the sheet.
    press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), comment);
    EXPECT_EQ(shown->focusedButton(), shown->saveButton());
    EXPECT_FALSE(framed(shown->saveButton()));
    press(0, QStringLiteral("x"));
    press(Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), shown->patchNameTextField());
    shown->patchNameTextField()->end(false);
    press(0, QStringLiteral("y"));
    press(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, std::vector<std::string>{"save"});
    EXPECT_EQ(item->patchName, "Leady");
    EXPECT_EQ(item->patchComment, "xabc");

    // The group's sheet, its field clicked while the keys marked Cancel.
    log.clear();
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.setSaveActionBlock([this] { log.push_back("save group"); });
    groupSheet.setCancelActionBlock([this] { log.push_back("cancel group"); });
    groupSheet.view();
    groupSheet.show();
    groupSheet.activateWindow();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return groupSheet.isActiveWindow(); }));
    QLineEdit* name = groupSheet.groupNameTextField();
    name->setFocus(Qt::MouseFocusReason);
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    ASSERT_EQ(groupSheet.focusedButton(), groupSheet.cancelButton());
    name->setFocus(Qt::MouseFocusReason);
    name->end(false);
    press(0, QStringLiteral("s"));
    press(Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(log, std::vector<std::string>{"save group"});
    EXPECT_EQ(group->name.value_or(""), "Lives");
}

// A press in the name field while another window has the keys puts the caret where it landed: the window's
// activation, whether it comes before the press or after it, puts back no older selection over that.
TEST_F(PatchPropertySheetsTest, APressInTheNameWhileTheKeysAreAwayPutsTheCaretWhereItLanded)
{
    auto shown = sheet(patch("Lead 1", "abc"));
    auto group = std::make_shared<DirectoryObject>();
    group->name = "Live set";
    group->isGroup = true;
    PatchGroupPropertyViewController groupSheet(rules);
    groupSheet.setGroup(group);
    groupSheet.view();
    for (QLineEdit* name : {shown->patchNameTextField(), groupSheet.groupNameTextField()}) {
        SCOPED_TRACE(name->text().toStdString());
        QWidget* window = name->window();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(testing_app::processEventsUntil([&] { return window->isActiveWindow(); }));
        name->setFocus();
        name->setSelection(0, 4);
        QFocusEvent lent(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(name, &lent);
        int x = 0;
        while (x < name->width() && name->cursorPositionAt(QPoint(x, name->height() / 2)) < 2) ++x;
        ASSERT_EQ(name->cursorPositionAt(QPoint(x, name->height() / 2)), 2);
        const QPointF at(x, name->height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, name->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(name, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, name->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(name, &release);
        QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(name, &back);
        EXPECT_FALSE(name->hasSelectedText());
        EXPECT_EQ(name->cursorPosition(), 2);
        window->hide();
    }
}
}  // namespace
