#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include "EffectScreenFakes.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/EffectPropertyViewController.h"
#include "app/effect/EffectUpdateTableCellView.h"
#include "app/effect/EffectUpdateView.h"
#include "app/effect/QueueEffectDialogs.h"
#include "app/main/QueueMainDialogs.h"
#include "app/shell/AppDelegate.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

using namespace effect_test;

namespace {

void pressReturn(QWidget* target) { testing_app::key(target, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")); }

class EffectSheetsTest : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    // The sheet's view of type `View` that shows now.
    template <typename View>
    View* shown() const
    {
        return queue.showingSheet() ? queue.showingSheet()->findChild<View*>() : nullptr;
    }
    AppDelegate appDelegate;
    ShowingDialogQueue queue{appDelegate};
};

// The property sheet shows the effect's texts, with or without a comment and uses, and keeps its own
// texts when it has no effect; it goes through the queue and Return closes it like OK.
TEST_F(EffectSheetsTest, PropertySheetTextsAndReturn)
{
    auto item = effect("Echo", 5);
    item->effectCategory = "DELAY";
    item->effectVersion = "1.10";
    item->effectNote = "Warm repeats.";
    item->effectUsedTimes = 3;
    EffectPropertyViewController sheet(item);
    const std::pair<QLabel*, const char*> texts[] = {
        {sheet.effectNameLabel(), "Effect name:"}, {sheet.effectCategoryLabel(), "Category:"}, {sheet.effectVersionLabel(), "Version: "},
        {sheet.effectNameTextLabel(), "Echo"},     {sheet.effectCategoryTextLabel(), "DELAY"}, {sheet.effectVersionTextLabel(), "1.10"},
        {sheet.effectUsedTimesLabel(), "Used by 3 patch(es) on the device"}};
    for (const auto& [label, text] : texts) EXPECT_EQ(label->text(), QString::fromUtf8(text));
    EXPECT_EQ(sheet.effectCommentTextView()->toPlainText(), QStringLiteral("Warm repeats."));
    EXPECT_TRUE(sheet.effectCommentTextView()->isReadOnly());
    auto unused = effect("Plain", 6);
    EffectPropertyViewController bare(unused);
    EXPECT_TRUE(bare.effectCommentTextView()->toPlainText().isEmpty());
    EXPECT_EQ(bare.effectUsedTimesLabel()->text(), QStringLiteral("Used by 0 patch(es) on the device"));
    EffectPropertyViewController unknown(item, false);
    EXPECT_EQ(unknown.effectUsedTimesLabel()->text(), QStringLiteral("Used by - patch(es) on the device"));
    EffectPropertyViewController none(nullptr);
    EXPECT_EQ(none.effectNameTextLabel()->text(), QStringLiteral("-"));
    EXPECT_TRUE(none.okButton()->isDefault());
    // Queued behind a message, shown after it, and closed by Return.
    QueueEffectDialogs dialogs(queue);
    queue.showDialogWithInformation(QStringLiteral("first"));
    dialogs.showEffectProperty(item, true);
    EXPECT_EQ(queue.waitingActionCount(), 1u);
    queue.informationView()->okButton()->click();
    auto* property = shown<EffectPropertyViewController>();
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(property->effectItem(), item);
    EXPECT_TRUE(appDelegate.isShowingDialog());
    pressReturn(property);
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

// The update notice: a row per entry with the exact version text in black, the count, Return as OK,
// and new entries filling it again.
TEST_F(EffectSheetsTest, UpdateNoticeRowsCountAndReturn)
{
    auto echo = effect("Echo", 5);
    echo->effectVersion = "1.10";
    auto wah = effect("Wah", 6);
    wah->effectVersion = "2.00";
    EffectUpdateView view;
    EXPECT_EQ(view.tableView()->rowCount(), 0);
    view.setUpdatedEffectItems({{echo, "1.00"}, {wah, "1.9"}});
    EXPECT_EQ(view.descriptionLabel()->text(), QStringLiteral("2 effect(s) were updated."));
    ASSERT_EQ(view.tableView()->rowCount(), 2);
    EffectUpdateTableCellView* first = view.cellAtRow(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->objectName(), QStringLiteral("updatedCell"));
    EXPECT_EQ(first->effectNameLabel()->text(), QStringLiteral("Echo"));
    EXPECT_EQ(first->versionLabel()->text(), QString::fromUtf8("Version:   1.00 \u2192 1.10"));
    EXPECT_EQ(first->versionLabel()->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(view.cellAtRow(1)->versionLabel()->text(), QString::fromUtf8("Version:   1.9 \u2192 2.00"));
    // An entry without an effect keeps its cell as made.
    view.setUpdatedEffectItems({{nullptr, "1.00"}});
    EXPECT_EQ(view.descriptionLabel()->text(), QStringLiteral("1 effect(s) were updated."));
    EXPECT_TRUE(view.cellAtRow(0)->versionLabel()->text().isEmpty());
    int dismissed = 0;
    view.setDismissActionBlock([&dismissed] { ++dismissed; });
    QDialog window;
    view.setParent(&window);
    window.show();
    pressReturn(&view);
    EXPECT_EQ(dismissed, 1);
    view.okButton()->click();
    EXPECT_EQ(dismissed, 2);
    view.setParent(nullptr);
}

// The host makes the notice once and fills it with the whole list each time it shows, through the
// queue; a second notice lists what it is given then.
TEST_F(EffectSheetsTest, HostShowsASecondNoticeWithItsOwnEntries)
{
    QueueMainDialogs host(queue, nullptr);
    int made = 0;
    host.setEffectUpdateSheetFactory([&made]() -> EffectUpdateSheet* {
        ++made;
        return new EffectUpdateView;
    });
    auto echo = effect("Echo", 5);
    echo->effectVersion = "1.10";
    auto wah = effect("Wah", 6);
    wah->effectVersion = "2.00";
    host.showEffectUpdateSheet({{echo, "1.00"}});
    auto* notice = shown<EffectUpdateView>();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->tableView()->rowCount(), 1);
    EXPECT_TRUE(appDelegate.isShowingDialog());
    notice->okButton()->click();
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(appDelegate.isShowingDialog());
    host.showEffectUpdateSheet({{echo, "1.00"}, {wah, "1.00"}});
    notice = shown<EffectUpdateView>();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->tableView()->rowCount(), 2);
    EXPECT_EQ(notice->descriptionLabel()->text(), QStringLiteral("2 effect(s) were updated."));
    pressReturn(notice);
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_LE(made, 2);
    // Without a sheet to make, nothing shows and the queue goes on.
    QueueMainDialogs bare(queue, nullptr);
    bare.showEffectUpdateSheet({{echo, "1.00"}});
    EXPECT_EQ(queue.showingSheet(), nullptr);
    EXPECT_FALSE(queue.isDoingBlockAction());
}

}  // namespace
