#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include "EffectControllerRig.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/NoBackgroundScroller.h"
#include "app/controls/RightClickColorWell.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/controls/TableRowChecks.h"
#include "app/controls/UnchangeLayoutCell.h"
#include "app/effect/EffectIconQueue.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectListCellDelegate.h"
#include "support/app/FakeShellNeighbours.h"

using namespace effect_test;

namespace {

TEST_F(EffectManagerViewControllerTest, ListShowsThirtyRowsAtLeastAndEmptyRowsCannotBeSelected)
{
    setList({});
    EXPECT_EQ(controller.effectListModel()->rowCount(), 30);
    EXPECT_TRUE(table().isEmptyRow(0));
    click(table().viewport(), cell(0, "EffectName").center());
    EXPECT_TRUE(table().selectionModel()->selectedRows().isEmpty());
    bool selected = true;
    const CustomTableRowView rowView = table().fillRowView(3, &selected);
    EXPECT_TRUE(rowView.isEffectRow());
    EXPECT_TRUE(rowView.isEmptyRow());
    EXPECT_FALSE(selected);
    std::vector<std::shared_ptr<EffectItem>> many;
    for (std::uint32_t i = 0; i < 31; ++i) many.push_back(effect("e" + std::to_string(100 + i), i));
    setList(many);
    EXPECT_EQ(controller.effectListModel()->rowCount(), 31);
    EXPECT_FALSE(table().isEmptyRow(30));
    EXPECT_EQ(table().verticalHeader()->defaultSectionSize(), 55);
    // 31 rows of 55 points do not fit 700: the ruler shows; one row does.
    EXPECT_TRUE(table().rulerVisible());
    click(table().viewport(), cell(1, "Note").center());
    EXPECT_EQ(table().selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table().selectionModel()->selectedRows().front().row(), 1);
    EXPECT_EQ(table().fillRowView(1).row(), 1u);
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(31, &table()));
    EXPECT_FALSE(TableRowChecks::checkEmptyRow(30, &table()));
    EXPECT_TRUE(controller.logic().isEmptyRow(31) && controller.logic().isEmptyRow(-1));
}

TEST_F(EffectManagerViewControllerTest, StarAndRecoveryButtonsActOnTheirOwnRowThroughTheReusedCell)
{
    auto deleted = effect("Deleted", 3);
    deleted->isDeleted = true;
    setList({effect("Alpha", 1), effect("Beta", 2), deleted, effect("UNKNOWN", 9, EffectItem::kUnknownCategoryID)});
    // Sorted by category (all 1), then type; the unknown effect last.
    ASSERT_EQ(controller.effectList()[0]->effectName, "Alpha");
    log.clear();
    const auto star = [this](int row) {
        click(table().viewport(), FavouriteTableCellView::favouriteButtonRect(cell(row, "Favourite")).center());
    };
    star(1);
    star(0);
    EXPECT_EQ(log, (testing_app::CallLog{"favourite on " + controller.effectList()[1]->effectName,
                                          "favourite on " + controller.effectList()[0]->effectName}));
    EXPECT_EQ(table().selectionModel()->selectedRows().front().row(), 0);
    log.clear();
    star(3);  // the unknown effect
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(controller.effectList()[3]->isFavourite);
    const int deletedRow = 2;
    ASSERT_EQ(controller.effectList()[deletedRow], deleted);
    click(table().viewport(), EffectNameTableCellView::recoveryButtonRect(cell(deletedRow, "EffectName")).center());
    EXPECT_EQ(log, (testing_app::CallLog{"recover Deleted"}));
    EXPECT_FALSE(deleted->isDeleted);
    EXPECT_EQ(table().selectionModel()->selectedRows().front().row(), deletedRow);
    // The cell was filled for the deleted row last; a normal row reuses it without the button.
    log.clear();
    click(table().viewport(), EffectNameTableCellView::recoveryButtonRect(cell(0, "EffectName")).center());
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(controller.effectListCellDelegate()->nameCell().isDeletedCell());
}

TEST_F(EffectManagerViewControllerTest, UsedTimesShowADashUntilTheCountIsInAndReloadsKeepTheSelection)
{
    setList({effect("Alpha", 1), effect("Beta", 2)});
    const auto usedOf = [this](int row) {
        return controller.effectListModel()
            ->index(row, EffectListModel::columnOfIdentifier("UsedTimes"))
            .data()
            .toString();
    };
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return controller.logic().isUpdatedEffectUsedTimesNumber(); }));
    EXPECT_EQ(usedOf(0), QStringLiteral("0"));
    click(table().viewport(), cell(1, "Note").center());
    controller.reloadDataInEffectList();
    EXPECT_EQ(usedOf(0), QStringLiteral("-"));
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return controller.logic().isUpdatedEffectUsedTimesNumber(); }));
    // Reloads and the count's arrival keep the selection.
    ASSERT_EQ(table().selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table().selectionModel()->selectedRows().front().row(), 1);
}

TEST_F(EffectManagerViewControllerTest, HeaderClicksSortAndShowTheArrow)
{
    setList({effect("Beta", 2, 1), effect("Alpha", 1, 2)});
    const int name = EffectListModel::columnOfIdentifier("EffectName");
    const QPoint inName(controller.effectListHeader()->sectionViewportPosition(name) + 20, 10);
    click(controller.effectListHeader()->viewport(), inName);
    EXPECT_EQ(controller.effectList()[0]->effectName, "Alpha");
    CustomHeaderView& header = *controller.effectListHeader();
    EXPECT_EQ(header.headerCell(name).sortState(), 1);
    EXPECT_EQ(header.headerCell(0).sortState(), 0);
    EXPECT_FALSE(header.headerCell(0).isNotFirstCell());
    EXPECT_TRUE(header.headerCell(name).isNotFirstCell());
    EXPECT_TRUE(header.headerCell(4).isLastEffectCell());
    EXPECT_FALSE(header.headerCell(3).isLastEffectCell());
    EXPECT_EQ(header.headerCell(0).headerType(), CustomHeaderCell::EffectList);
    EXPECT_TRUE(table().verticalScroller()->isEffectManagerRuler());
    EXPECT_EQ(controller.effectListHeader()->height(), 25);
}

class EffectPoolTest : public EffectManagerViewControllerTest {
protected:
    EffectPoolTest()
    {
        echo = leaf(effect("Echo", 11));
        wah = leaf(effect("Wah", 12));
        odd = leaf(effect("Odd", 13));
        odd->isIncompatible = true;
        std::vector<std::shared_ptr<DirectoryObject>> many;
        for (std::uint32_t i = 0; i < 40; ++i) many.push_back(leaf(effect("Drive " + std::to_string(i), 100 + i)));
        delay = group("Delay", {echo, wah, odd});
        drive = group("Drive", many);
        controller.setStructureData({group("Rig One", {delay, drive})});
        controller.setIsEffectListLoaded(true);
        controller.reloadDataInEffectPool();
        settle();
    }
    std::shared_ptr<DirectoryObject> echo, wah, odd, delay, drive;
};

TEST_F(EffectPoolTest, ClicksOpenAndCloseGroupsAndOnlyAPressReleasedOnItsRowCounts)
{
    // Rig One (0) open, Delay (1) and Drive (2) closed.
    ASSERT_EQ(pool().shownRows().size(), 3u);
    EXPECT_FALSE(pool().rulerVisible());
    click(pool().viewport(), poolRowCentre(1));
    EXPECT_EQ(pool().shownRows().size(), 6u);
    EXPECT_EQ(pool().selectionIndexSet(), (std::set<int>{1}));
    EXPECT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{delay}));
    EXPECT_FALSE(controller.savingToDeviceButton()->isEnabled());
    click(pool().viewport(), poolRowCentre(2));  // Echo
    EXPECT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{echo}));
    EXPECT_EQ(controller.nameTextField()->text(), QStringLiteral("Echo [ Cat1 ]"));
    EXPECT_TRUE(controller.savingToDeviceButton()->isEnabled());
    // Pressed on Echo, released on Wah: no click.
    mouse(pool().viewport(), QEvent::MouseButtonPress, poolRowCentre(2));
    mouse(pool().viewport(), QEvent::MouseButtonRelease, poolRowCentre(3));
    EXPECT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{echo}));
    // Closing Delay again.
    click(pool().viewport(), poolRowCentre(1));
    EXPECT_EQ(pool().shownRows().size(), 3u);
    EXPECT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{delay}));
    // Opening Drive makes the rows reach below the view: the ruler shows, and goes when it closes.
    click(pool().viewport(), poolRowCentre(2));
    EXPECT_TRUE(pool().rulerVisible());
    click(pool().viewport(), pool().visualRect(pool().indexForRow(2)).center());
    EXPECT_FALSE(pool().rulerVisible());
    // Blank space under the rows clears the selection.
    click(pool().viewport(), QPoint(50, pool().viewport()->height() - 5));
    EXPECT_TRUE(pool().selectedNodes().empty());
    EXPECT_TRUE(controller.nameTextField()->text().isEmpty());
}

// The information panel sits on its swatch, a colour well, and shows a long note whole.
TEST_F(EffectPoolTest, InformationPanelSitsOnItsSwatchAndShowsALongNoteWhole)
{
    RightClickColorWell* well = controller.descriptionBackgroundColorWell();
    ASSERT_NE(well, nullptr);
    EXPECT_EQ(well->color(), QColor(105, 105, 105));
    EXPECT_EQ(controller.savingToDeviceButton()->parentWidget(), well);
    // The Load button's face is taller than its title, which sits in its middle.
    auto* load = qobject_cast<UnchangeLayoutCell*>(controller.savingToDeviceButton());
    ASSERT_NE(load, nullptr);
    const QRectF loadTitle = load->titleRectForBounds(QRectF(load->rect()));
    EXPECT_GT(load->height(), loadTitle.height() + 12);
    EXPECT_NEAR(loadTitle.center().y(), load->height() / 2.0, 0.5);
    EXPECT_EQ(well->grab().toImage().pixelColor(6, well->height() - 6), QColor(105, 105, 105));
    std::get<std::shared_ptr<EffectItem>>(echo->object)->effectNote =
        "A long note about this echo: its repeats, its tone, its modulation and the way its tail fades out "
        "over several seconds, which wraps over many lines in the narrow panel.";
    click(pool().viewport(), poolRowCentre(1));
    click(pool().viewport(), poolRowCentre(2));
    ScalingWidthTextField* note = controller.descriptionTextField();
    const auto needed = [note] {
        return note->fontMetrics().boundingRect(QRect(0, 0, note->width() - 4, 10000), Qt::TextWordWrap, note->text());
    };
    // The panel's layout takes the note's new height on a later turn of the loop, which a loaded machine
    // may take a while to reach.
    testing_app::processEventsUntil([&] { return !note->text().isEmpty() && note->height() >= needed().height(); });
    ASSERT_FALSE(note->text().isEmpty());
    EXPECT_GE(note->height(), needed().height());
    EXPECT_GT(needed().height(), 3 * note->fontMetrics().height());
    // The swatch is the well whose rules the controls' tests hold: its right click asks for the undo
    // popover, which this screen does not show and the patch screen does.
    testing_app::FakeMainWindowController mainController{log};
    appDelegate.setMainController(&mainController);
    AutoClosePopover* popover = RightClickImageView::getMenuPopover();
    for (const int state : {0, 1}) {
        popover->close();
        mainController.state_ = state;
        click(well, QPoint(4, well->height() - 4), Qt::RightButton);
        EXPECT_NE(well->rightClickImageView(), nullptr);
        EXPECT_EQ(popover->isShown(), state == 1);
    }
    popover->close();
    appDelegate.setMainController(nullptr);
}

TEST_F(EffectPoolTest, RowsHandTheSharedCellTheirTitleSwatchAndHeight)
{
    delay->hasNewChild = true;
    controller.reloadDataInEffectPool();
    const QModelIndex delayRow = pool().indexForRow(1);
    const auto content = delayRow.data(CustomCellForAttributedString::kRowContentRole).value<PoolRowContent>();
    EXPECT_EQ(content.title.text, QStringLiteral("Delay - NEW"));
    EXPECT_TRUE(content.isEffectPoolCell);
    EXPECT_TRUE(content.iconImage.isNull());
    ASSERT_EQ(content.title.runs.size(), 2);
    EXPECT_EQ(content.title.runs[1].start, 6);
    EXPECT_EQ(content.title.runs[1].colour, QColor::fromRgbF(227 / 255.0f, 227 / 255.0f, 0.0f));
    EXPECT_EQ(delayRow.data(Qt::SizeHintRole).toSize().height(), 26);
    click(pool().viewport(), poolRowCentre(1));
    const QModelIndex echoRow = pool().indexForRow(2);
    const auto leafContent = echoRow.data(CustomCellForAttributedString::kRowContentRole).value<PoolRowContent>();
    EXPECT_EQ(leafContent.iconImage.size(), QSize(10, 5));
    EXPECT_EQ(echoRow.data(Qt::SizeHintRole).toSize().height(), 24);
    EXPECT_EQ(pool().visualRect(echoRow).height(), 24);
}

TEST_F(EffectPoolTest, DragStartsFromTwoPointsOnASelectedEffectAndCarriesOnlyWhatMayGo)
{
    std::vector<std::vector<std::shared_ptr<EffectItem>>> drags;
    const auto names = [](const std::vector<std::shared_ptr<EffectItem>>& items) {
        std::vector<std::string> names;
        for (const auto& item : items) names.push_back(item->effectName);
        return names;
    };
    pool().setDragStarter([&drags](std::unique_ptr<QMimeData> data, const QPixmap& image, const QPoint&) {
        EXPECT_FALSE(image.isNull());
        EXPECT_FALSE(data->hasText());
        drags.push_back(EffectItemDrag::itemsFromMimeData(*data));
    });
    click(pool().viewport(), poolRowCentre(1));  // open Delay: Echo 2, Wah 3, Odd 4
    const auto dragFrom = [this](int row, int distance) {
        const QPoint start = poolRowCentre(row);
        mouse(pool().viewport(), QEvent::MouseButtonPress, start);
        mouse(pool().viewport(), QEvent::MouseMove, start + QPoint(distance, 0));
        mouse(pool().viewport(), QEvent::MouseButtonRelease, start + QPoint(distance, 0));
    };
    dragFrom(2, 2);  // Echo is not selected yet
    EXPECT_TRUE(drags.empty());
    click(pool().viewport(), poolRowCentre(2));
    dragFrom(2, 1);
    EXPECT_TRUE(drags.empty());
    dragFrom(2, 2);
    ASSERT_EQ(drags.size(), 1u);
    EXPECT_EQ(names(drags[0]), (std::vector<std::string>{"Echo"}));
    // The arrow keys move the selection (a test double's drag ends in a release, which is a click): Wah
    // selected by Down drags Wah; Up selects Echo again, and Wah's row no longer drags anything.
    const auto arrow = [this](int key) { testing_app::key(&pool(), key); };
    // The last click (the release of the drag above) made Echo's row the one the arrows go on from.
    arrow(Qt::Key_Down);
    ASSERT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{wah}));
    dragFrom(3, 3);
    ASSERT_EQ(drags.size(), 2u);
    EXPECT_EQ(names(drags[1]), (std::vector<std::string>{"Wah"}));
    arrow(Qt::Key_Up);
    ASSERT_EQ(pool().selectedNodes(), (std::vector<std::shared_ptr<DirectoryObject>>{echo}));
    dragFrom(3, 3);
    EXPECT_EQ(drags.size(), 2u);
    drags.pop_back();
    click(pool().viewport(), poolRowCentre(2));
    // Loaded already: refused by the list's rule.
    setList({effect("Echo", 11)});
    dragFrom(2, 3);
    EXPECT_EQ(drags.size(), 1u);
    // Incompatible, and a group row.
    click(pool().viewport(), poolRowCentre(4));
    dragFrom(4, 3);
    click(pool().viewport(), poolRowCentre(0));
    dragFrom(0, 3);
    EXPECT_EQ(drags.size(), 1u);
}

// Rows are painted by their strips alone and only what lies below the last row takes the list's base colour,
// whatever part of the list a paint covers.
TEST_F(EffectManagerViewControllerTest, RowsShowTheirStripsAndOnlyTheSpaceBelowThemTheBase)
{
    setList({effect("Echo", 3)});
    const int rows = controller.effectListModel()->rowCount();
    table().resize(table().width(), table().verticalHeader()->defaultSectionSize() * (rows + 4));
    const QImage shot = table().viewport()->grab().toImage();
    const QColor base = table().palette().color(QPalette::Base);
    const int x = table().viewport()->width() - 3;  // on the strip's cap, clear of every cell
    const int lastRowMiddle = table().rowViewportPosition(rows - 1) + table().rowHeight(rows - 1) / 2;
    const int belowRows = table().rowViewportPosition(rows - 1) + table().rowHeight(rows - 1) + 10;
    ASSERT_LT(belowRows, shot.height());
    EXPECT_EQ(shot.pixelColor(x, belowRows), base);
    CustomTableRowView row;
    row.setRow(std::uint64_t(rows - 1));
    QImage strip(shot.width(), table().rowHeight(rows - 1), QImage::Format_RGB32);
    {
        QPainter painter(&strip);
        row.drawRect(painter, strip.rect(), false);
    }
    EXPECT_EQ(shot.pixelColor(x, lastRowMiddle), strip.pixelColor(x, strip.height() / 2));
    EXPECT_NE(shot.pixelColor(x, lastRowMiddle), base);
}

TEST_F(EffectManagerViewControllerTest, ANarrowListScrollsSidewaysUntilUsedAndFavouriteShow)
{
    setList({effect("Echo", 3)});
    table().resize(500, table().height());
    QCoreApplication::processEvents();
    QScrollBar* sideways = table().horizontalScrollBar();
    // Drawn without its slot, over the list's rows.
    EXPECT_NE(qobject_cast<NoBackgroundScroller*>(sideways), nullptr);
    EXPECT_EQ(sideways, table().horizontalScroller());
    ASSERT_GT(sideways->maximum(), 0);
    // A bar the user can reach, not only a range for the keys.
    EXPECT_TRUE(sideways->isVisibleTo(&table()));
    sideways->setValue(sideways->maximum());
    const int favourite = EffectListModel::columnOfIdentifier("Favourite");
    const int used = EffectListModel::columnOfIdentifier("UsedTimes");
    EXPECT_GE(table().columnViewportPosition(used), 0);
    EXPECT_LE(table().columnViewportPosition(favourite) + table().columnWidth(favourite), table().viewport()->width());
}

TEST_F(EffectManagerViewControllerTest, IconsAreConvertedOffTheMainThreadAndKeptOnTheirItem)
{
    EXPECT_EQ(controller.queueTaskProgram().maxThreadCount(), 30);
    auto item = effect("Iconic", 5);
    std::vector<std::uint8_t> pixels(8 * 8 * 4, 0);
    for (std::size_t i = 0; i < 8 * 8; ++i) pixels[i * 4 + 3] = i % 2 == 0 ? 255 : 0;
    item->effectIcon = BitmapImage::make(8, 8, pixels);
    setList({item});
    controller.view()->grab();  // draws the rows, which asks for the icon
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return item->effectDisplayedIcon.has_value(); }));
    EXPECT_EQ(item->effectDisplayedIcon->rgba()[0], 255);
    EXPECT_EQ(item->effectDisplayedIcon->rgba()[7], 0);
    controller.view()->grab();
    EXPECT_FALSE(controller.effectListCellDelegate()->nameCell().effectIcon().isNull());
}

// The window may delete the screen's view before the screen: a count arriving afterwards, a reload or
// a row action then changes the list and touches no widget.
TEST(EffectManagerViewControllerLife, WorksOnAfterTheWindowDeletedItsView)
{
    testing_app::application();
    testing_app::CallLog log;
    AppDelegate appDelegate;
    appDelegate.setDeviceConnected(true);
    testing_app::FakeEffectCoordinator coordinator{log};
    testing_app::FakeEffectDialogs dialogs{log};
    EffectManagerViewController controller{{appDelegate, coordinator, dialogs}};
    controller.setEffectList({effect("Alpha", 1)});
    controller.setIsEffectListLoaded(true);
    controller.reloadData();
    delete controller.view();
    EXPECT_EQ(controller.savingToDeviceButton(), nullptr);
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return controller.logic().isUpdatedEffectUsedTimesNumber(); }));
    controller.reloadData();
    controller.logic().didClickFavouriteInRow(0);
    controller.validateRuler();
    EXPECT_TRUE(controller.effectList()[0]->isFavourite);
    EXPECT_EQ(log, (testing_app::CallLog{"favourite on Alpha"}));
}

}  // namespace
