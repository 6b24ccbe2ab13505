#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include "EffectScreenFakes.h"
#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/DisclosureTriangle.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/EffectIconConversion.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/EffectNameTableCellView.h"
#include "app/effect/EffectPoolPanel.h"
#include "app/effect/EffectPoolTitle.h"
#include "app/effect/EffectPropertyViewController.h"
#include "app/effect/EffectRowColors.h"
#include "app/effect/EffectUpdateTableCellView.h"
#include "app/effect/EffectUpdateView.h"
#include "app/effect/FavouriteTableCellView.h"
#include "app/effect/QueueEffectDialogs.h"
#include "app/main/QueueMainDialogs.h"
#include "app/shell/AppDelegate.h"
#include "app/views/NamedImages.h"
#include "support/app/Contrast.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

using namespace effect_test;

namespace {

std::shared_ptr<EffectItem> coloured(double red, double green, double blue)
{
    auto item = effect("x", 1);
    item->effectColor = platform::PlistDictionary{
        {"Red", platform::PlistValue(red)}, {"Green", platform::PlistValue(green)}, {"Blue", platform::PlistValue(blue)}};
    return item;
}

TEST(EffectScreenPartsTest, RowColoursDarkenOddRowsMoreAndNeverGoBelowBlack)
{
    auto unknown = effect("UNKNOWN", 1, EffectItem::kUnknownCategoryID);
    unknown->effectColor.reset();
    const std::tuple<const char*, std::shared_ptr<EffectItem>, std::int64_t, double> cases[] = {
        {"even row", coloured(255, 0, 0), 0, 0.9},
        {"odd row", coloured(255, 0, 0), 1, 0.7},
        {"dark colour on an odd row", coloured(40, 10, 10), 3, 0.0},
        {"no colour at all", unknown, 2, 0.0},
    };
    for (const auto& [name, item, row, brightness] : cases) {
        SCOPED_TRACE(name);
        const auto colors = EffectRowColors::setCurrentColorWithCurrentEffectItem(*item, row);
        EXPECT_NEAR(colors.currentEffectBackgroundColor.valueF(), brightness, 0.005);
        EXPECT_NEAR(colors.currentEffectBackgroundColor.alphaF(), 0.8, 0.005);
        EXPECT_EQ(colors.currentEffectColor.alphaF(), 1.0f);
    }
    const auto even = EffectRowColors::setCurrentColorWithCurrentEffectItem(*coloured(30, 120, 200), 0);
    const auto odd = EffectRowColors::setCurrentColorWithCurrentEffectItem(*coloured(30, 120, 200), 1);
    EXPECT_TRUE(even.currentEffectColor == odd.currentEffectColor &&
                even.currentEffectColor == QColor::fromRgbF(30 / 255.0f, 120 / 255.0f, 200 / 255.0f));
    EXPECT_NEAR(even.currentEffectBackgroundColor.hsvHueF(), odd.currentEffectBackgroundColor.hsvHueF(), 0.005);
    EXPECT_NEAR(even.currentEffectBackgroundColor.hsvSaturationF(), odd.currentEffectBackgroundColor.hsvSaturationF(), 0.005);
}

TEST(EffectScreenPartsTest, OnlyDarkOpaquePixelsTurnWhite)
{
    EXPECT_TRUE(EffectIconConversion::becomesWhite(0.29, 0.29, 0.29, 1.0));
    EXPECT_FALSE(EffectIconConversion::becomesWhite(0.3, 0.29, 0.29, 1.0) || EffectIconConversion::becomesWhite(0.29, 0.29, 0.3, 1.0) ||
                 EffectIconConversion::becomesWhite(0.1, 0.1, 0.1, 0.99));
    // The walk over a real bitmap: every pixel, whatever its size.
    const std::vector<std::uint8_t> pixels{74, 74, 74, 255,  77, 77, 77, 255,  10, 10, 10, 252,  0, 0, 0, 255,
                                           200, 200, 200, 255,  0, 0, 0, 0};
    const auto icon = BitmapImage::make(3, 2, pixels);
    ASSERT_TRUE(icon);
    const auto white = EffectIconConversion::displayedIconFromIcon(*icon);
    ASSERT_TRUE(white);
    ASSERT_EQ(std::pair(white->width(), white->height()), std::pair(3u, 2u));
    const std::vector<int> alpha{255, 0, 0, 255, 0, 0};
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(white->rgba()[i * 4 + 3], alpha[i]);
        EXPECT_TRUE(alpha[i] != 255 || white->rgba()[i * 4] == 255);
    }
    EXPECT_TRUE(EffectIconConversion::convertFromGrayColorImageToRGB(QImage(), QSize(4, 4)).isNull());
}

TEST(EffectScreenPartsTest, IconWidthKeepsTallIconsInProportion)
{
    EXPECT_FLOAT_EQ(EffectNameTableCellView::widthForIcon(20, 40, 30), 15.0f);
    for (const auto& [width, height] : {std::pair{40, 20}, {0, 0}, {30, 30}})
        EXPECT_FLOAT_EQ(EffectNameTableCellView::widthForIcon(width, height, 30), 50.0f) << width << "x" << height;
    EffectNameTableCellView cell;
    auto item = effect("tall", 1);
    item->effectDisplayedIcon = BitmapImage::make(20, 40, std::vector<std::uint8_t>(20 * 40 * 4, 255));
    cell.setImageAndConstraintForEffectItem(*item);
    EXPECT_FLOAT_EQ(cell.effectIconWidthContraint(), 15.0f);
    cell.setIsDeletedCell(true);
    cell.clearCellView();
    EXPECT_TRUE(!cell.isDeletedCell() && cell.effectIcon().isNull());
    EXPECT_EQ(std::pair(cell.effectIconWidthContraint(), cell.effectIconHeigthContraint()), std::pair(50.0f, 30.0f));
    cell.didClickOnRecoveryButton();  // no callback: nothing
}

TEST(EffectScreenPartsTest, PoolTitlesFollowTheFirstStyleThatApplies)
{
    struct Case {
        const char* name;
        std::function<void(DirectoryObject&)> mark;
        bool deletedInList;
        QString text;
        EffectPoolTitle::Style style;
        std::vector<std::tuple<int, int, QColor>> spans;
    };
    const QColor grey = QColor::fromRgbF(0.6f, 0.6f, 0.6f);
    const QColor yellow = QColor::fromRgbF(227 / 255.0f, 227 / 255.0f, 0.0f);
    const std::vector<Case> cases{
        {"new below", [](DirectoryObject& n) { n.hasNewChild = true; }, false, "Echo - NEW",
         EffectPoolTitle::Style::HasNewChild, {{0, 5, grey}, {5, 5, yellow}}},
        {"incompatible hides NEW", [](DirectoryObject& n) { n.hasNewChild = true, n.isIncompatible = true; }, false,
         "Echo", EffectPoolTitle::Style::Incompatible, {{0, 4, QColor::fromRgbF(64 / 255.0f, 64 / 255.0f, 64 / 255.0f)}}},
        {"new effect", [](DirectoryObject& n) { n.isNew = true; }, false, "Echo", EffectPoolTitle::Style::New,
         {{0, 4, QColor(Qt::white)}}},
        {"deleted in the device", [](DirectoryObject&) {}, true, "Echo", EffectPoolTitle::Style::DeletedInDevice,
         {{0, 4, QColor::fromRgbF(1.0f, 251 / 255.0f, 59 / 255.0f)}}},
        {"any other effect", [](DirectoryObject&) {}, false, "Echo", EffectPoolTitle::Style::Effect, {{0, 4, grey}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto node = leaf(effect("Echo", 7));
        c.mark(*node);
        auto listed = effect("Echo", 7);
        listed->isDeleted = c.deletedInList;
        const auto title = EffectPoolTitle::forNode(*node, {listed});
        EXPECT_EQ(title.text, c.text);
        EXPECT_EQ(title.style, c.style);
        EXPECT_EQ(title.bold, c.style != EffectPoolTitle::Style::Incompatible);
        ASSERT_EQ(title.spans.size(), c.spans.size());
        for (std::size_t i = 0; i < c.spans.size(); ++i) {
            EXPECT_EQ(title.spans[i].start, std::get<0>(c.spans[i]));
            EXPECT_EQ(title.spans[i].length, std::get<1>(c.spans[i]));
            EXPECT_EQ(title.spans[i].color, std::get<2>(c.spans[i]));
        }
    }
    EXPECT_EQ(EffectPoolTitle::forNode(*groupNode("Delay", {}), {}).style, EffectPoolTitle::Style::Group);
}

TEST(EffectScreenPartsTest, PanelFillsForOneEffectAndTheLoadRuleDecides)
{
    auto loaded = effect("Loaded", 1);
    auto deleted = effect("Deleted", 2);
    deleted->isDeleted = true;
    auto unknown = effect("UNKNOWN", 3, EffectItem::kUnknownCategoryID);
    const std::vector<std::shared_ptr<EffectItem>> list{loaded, deleted, unknown};
    struct Case {
        const char* name;
        std::vector<std::shared_ptr<DirectoryObject>> selection;
        bool connected, listRead, filled, load;
    };
    auto newLeaf = leaf(effect("New", 9));
    newLeaf->object = [] {
        auto item = effect("New", 9);
        item->effectNote = "A note";
        item->effectVersion = "1.02";
        return item;
    }();
    auto incompatible = leaf(effect("Odd", 10));
    incompatible->isIncompatible = true;
    const std::vector<Case> cases{
        {"a new effect", {newLeaf}, true, true, true, true},
        {"no device", {newLeaf}, false, true, true, false},
        {"list not read", {newLeaf}, true, false, true, false},
        {"incompatible", {incompatible}, true, true, true, false},
        {"loaded already", {leaf(effect("Loaded", 1))}, true, true, true, false},
        {"deleted in the device", {leaf(effect("Deleted", 2))}, true, true, true, true},
        {"the unknown effect's type", {leaf(effect("X", 3))}, true, true, true, false},
        {"a group", {groupNode("Delay", {newLeaf})}, true, true, false, false},
        {"two rows", {newLeaf, incompatible}, true, true, false, false},
        {"nothing", {}, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto panel = EffectPoolPanel::forSelection(c.selection, c.connected, c.listRead, list);
        EXPECT_EQ(!panel.name.empty(), c.filled);
        EXPECT_EQ(panel.loadEnabled, c.load);
    }
    const auto panel = EffectPoolPanel::forSelection({newLeaf}, true, true, list);
    EXPECT_EQ(panel.name, "New [ Cat1 ]");
    EXPECT_EQ(panel.description, "A note");
    EXPECT_EQ(panel.version, "Version: 1.02");
}

TEST(EffectScreenPartsTest, NotesLoseOnlyTheirTrailingLineBreaks)
{
    EXPECT_EQ(EffectListModel::noteForDisplay("Warm\r\nand round\r\n\n"), QStringLiteral("Warm\r\nand round"));
    EXPECT_EQ(EffectListModel::noteForDisplay("\n"), QString());
    EXPECT_EQ(EffectListModel::noteForDisplay("plain"), QStringLiteral("plain"));
}

TEST(EffectScreenPartsTest, DraggedEffectsTravelUnderTheProgramsOwnTypeOnly)
{
    auto first = effect("Echo", 7);
    first->effectNote = "note";
    auto data = EffectItemDrag::mimeDataForItems({first, effect("Wah", 8)});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->formats(), QStringList{QString::fromLatin1(EffectItemDrag::kMimeType)});
    EXPECT_FALSE(data->hasText());
    const auto items = EffectItemDrag::itemsFromMimeData(*data);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(std::tuple(items[0]->effectName, items[0]->effectType, items[1]->effectName), std::tuple("Echo", 7u, "Wah"));
    // Text from elsewhere, a short payload or a foreign one reads as nothing.
    QMimeData text;
    text.setText(QStringLiteral("Echo"));
    EXPECT_TRUE(EffectItemDrag::itemsFromMimeData(text).empty());
    QMimeData broken;
    broken.setData(QString::fromLatin1(EffectItemDrag::kMimeType), QByteArray("\x00\x00\x00\x05garbage", 11));
    EXPECT_TRUE(EffectItemDrag::itemsFromMimeData(broken).empty());
    EXPECT_FALSE(EffectItemDrag::mimeDataForItems({}));
}

// Text reads at 4.5:1 and symbols show at 3:1 on what they are drawn over.
TEST(EffectScreenPartsTest, SelectionBarsUnlitStarsAndTrianglesReadOnWhatTheyLieOver)
{
    using testing_app::contrastRatio;
    const QColor pool(30, 45, 75);
    const QColor title = QColor::fromRgbF(0.6F, 0.6F, 0.6F);
    for (const bool effectPool : {false, true}) {
        const QImage bar = NamedImages::image(CustomCellForAttributedString::selectionImageName(effectPool, 1));
        const QColor fill = bar.pixelColor(bar.width() / 2, bar.height() / 2);
        const QColor edge = bar.pixelColor(bar.width() / 2, 2);
        EXPECT_GE(contrastRatio(title, fill), 4.5) << effectPool;
        EXPECT_GE(contrastRatio(edge, pool), 3.0) << effectPool;
        EXPECT_GE(contrastRatio(DisclosureTriangle::kColour, fill), 3.0) << effectPool;
    }
    EXPECT_GE(contrastRatio(DisclosureTriangle::kColour, pool), 3.0);
    for (const char* row : {"row_light_color_left", "row_dark_color_left"}) {
        const QImage shade = NamedImages::image(QString::fromLatin1(row));
        const QColor under = shade.pixelColor(shade.width() / 2, shade.height() / 2);
        EXPECT_GE(contrastRatio(FavouriteTableCellView::starColor(false), under), 3.0) << row;
        EXPECT_GE(contrastRatio(FavouriteTableCellView::starColor(true), under), 3.0) << row;
    }
}

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
    EXPECT_TRUE(sheet.effectCommentTextView()->toPlainText() == QStringLiteral("Warm repeats.") && sheet.effectCommentTextView()->isReadOnly());
    EffectPropertyViewController bare(effect("Plain", 6));
    EXPECT_TRUE(bare.effectCommentTextView()->toPlainText().isEmpty());
    EXPECT_EQ(bare.effectUsedTimesLabel()->text(), QStringLiteral("Used by 0 patch(es) on the device"));
    EffectPropertyViewController unknown(item, false);
    EXPECT_EQ(unknown.effectUsedTimesLabel()->text(), QStringLiteral("Used by - patch(es) on the device"));
    EffectPropertyViewController none(nullptr);
    EXPECT_TRUE(none.effectNameTextLabel()->text() == QStringLiteral("-") && none.okButton()->isDefault());
    // Queued behind a message, shown after it, and closed by Return.
    QueueEffectDialogs dialogs(queue);
    queue.showDialogWithInformation(QStringLiteral("first"));
    dialogs.showEffectProperty(item, true);
    EXPECT_EQ(queue.waitingActionCount(), 1u);
    queue.informationView()->okButton()->click();
    auto* property = shown<EffectPropertyViewController>();
    ASSERT_NE(property, nullptr);
    EXPECT_TRUE(property->effectItem() == item && appDelegate.isShowingDialog());
    pressReturn(property);
    EXPECT_FALSE(queue.showingSheet() || appDelegate.isShowingDialog());
}

TEST_F(EffectSheetsTest, UpdateNoticeRowsCountAndReturn)
{
    auto echo = effect("Echo", 5), wah = effect("Wah", 6);
    echo->effectVersion = "1.10", wah->effectVersion = "2.00";
    EffectUpdateView view;
    EXPECT_EQ(view.tableView()->rowCount(), 0);
    view.setUpdatedEffectItems({{echo, "1.00"}, {wah, "1.9"}});
    EXPECT_EQ(view.descriptionLabel()->text(), QStringLiteral("2 effect(s) were updated."));
    ASSERT_EQ(view.tableView()->rowCount(), 2);
    EffectUpdateTableCellView* first = view.cellAtRow(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::pair(first->objectName(), first->effectNameLabel()->text()), std::pair(QStringLiteral("updatedCell"), QStringLiteral("Echo")));
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
    view.okButton()->click();
    EXPECT_EQ(dismissed, 2) << "Return and OK each dismiss it";
    view.setParent(nullptr);
}

TEST_F(EffectSheetsTest, HostShowsASecondNoticeWithItsOwnEntries)
{
    QueueMainDialogs host(queue, nullptr);
    int made = 0;
    host.setEffectUpdateSheetFactory([&made]() -> EffectUpdateSheet* {
        ++made;
        return new EffectUpdateView;
    });
    auto echo = effect("Echo", 5), wah = effect("Wah", 6);
    echo->effectVersion = "1.10", wah->effectVersion = "2.00";
    host.showEffectUpdateSheet({{echo, "1.00"}});
    auto* notice = shown<EffectUpdateView>();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->tableView()->rowCount() == 1 && appDelegate.isShowingDialog());
    notice->okButton()->click();
    EXPECT_FALSE(queue.showingSheet() || appDelegate.isShowingDialog());
    host.showEffectUpdateSheet({{echo, "1.00"}, {wah, "1.00"}});
    notice = shown<EffectUpdateView>();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->tableView()->rowCount() == 2 && notice->descriptionLabel()->text() == QStringLiteral("2 effect(s) were updated."));
    pressReturn(notice);
    EXPECT_TRUE(queue.showingSheet() == nullptr && made <= 2);
    // Without a sheet to make, nothing shows and the queue goes on.
    QueueMainDialogs bare(queue, nullptr);
    bare.showEffectUpdateSheet({{echo, "1.00"}});
    EXPECT_FALSE(queue.showingSheet() || queue.isDoingBlockAction());
}

}  // namespace
