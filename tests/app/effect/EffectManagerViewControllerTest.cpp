#include <gtest/gtest.h>

#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

#include <chrono>

#include "EffectScreenFakes.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/NoBackgroundScroller.h"
#include "app/controls/RightClickButton.h"
#include "app/controls/RightClickColorWell.h"
#include "app/controls/RightClickImageView.h"
#include "app/controls/ScalingWidthTextField.h"
#include "app/controls/TableRowChecks.h"
#include "app/controls/UnchangeLayoutCell.h"
#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/CustomTableViewForEffect.h"
#include "app/effect/EffectIconQueue.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectListCellDelegate.h"
#include "app/effect/EffectListModel.h"
#include "app/effect/EffectManagerViewController.h"
#include "app/effect/EffectNameTableCellView.h"
#include "app/effect/EffectPoolOutlineView.h"
#include "app/effect/FavouriteTableCellView.h"
#include "app/effect/OptionMenuForEffectViewController.h"
#include "app/effect/QueueEffectDialogs.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/MainWindowController.h"
#include "app/views/InterfaceTexts.h"
#include "support/app/Events.h"
#include "support/app/FakeShellNeighbours.h"
#include "support/app/TestApplication.h"

using namespace effect_test;

namespace {

using testing_app::click;
using testing_app::mouse;

// A press, its release, a double click and its release, as the platform delivers a double click.
void doubleClick(QWidget* target, QPoint point)
{
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                            QEvent::MouseButtonRelease})
        mouse(target, type, point);
}

// The real screen, offscreen, over fake neighbours.
class EffectManagerViewControllerTest : public ::testing::Test {
protected:
    EffectManagerViewControllerTest()
    {
        appDelegate.setDeviceConnected(true);
        controller.view()->resize(1200, 700);
        controller.view()->show();
        settle();
    }
    void settle() { testing_app::processEventsUntil([] { return false; }, std::chrono::milliseconds(30)); }
    CustomTableViewForEffect& table() { return *controller.leftPanelTableView(); }
    EffectPoolOutlineView& pool() { return *controller.rightPanelOutlineView(); }
    QRect cell(int row, const std::string& column)
    {
        return table().visualRect(controller.effectListModel()->index(row, EffectListModel::columnOfIdentifier(column)));
    }
    // The list shown with its use counts in: a count still out would overwrite what a test sets next.
    void setList(std::vector<std::shared_ptr<EffectItem>> list)
    {
        const bool counted = appDelegate.isDeviceConnected() && !list.empty();
        controller.setEffectList(std::move(list));
        controller.setIsEffectListLoaded(true);
        controller.reloadDataInEffectList();
        settle();
        if (counted) testing_app::processEventsUntil([this] { return controller.logic().isUpdatedEffectUsedTimesNumber(); });
    }
    QPoint poolRowCentre(int row) { return pool().visualRect(pool().indexForRow(row)).center(); }
    std::vector<int> selectedRows()
    {
        std::vector<int> rows;
        for (const QModelIndex& index : table().selectionModel()->selectedRows()) rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    QApplication& application = testing_app::application();
    testing_app::CallLog log;
    AppDelegate appDelegate;
    testing_app::FakeEffectCoordinator coordinator{log};
    testing_app::FakeEffectDialogs dialogs{log};
    EffectManagerViewController controller{{appDelegate, coordinator, dialogs}};
};

TEST_F(EffectManagerViewControllerTest, ListShowsThirtyRowsAtLeastAndEmptyRowsCannotBeSelected)
{
    setList({});
    EXPECT_EQ(controller.effectListModel()->rowCount(), 30);
    EXPECT_TRUE(table().isEmptyRow(0));
    click(table().viewport(), cell(0, "EffectName").center());
    EXPECT_TRUE(selectedRows().empty());
    bool selected = true;
    const CustomTableRowView rowView = table().fillRowView(3, &selected);
    EXPECT_TRUE(rowView.isEffectRow() && rowView.isEmptyRow() && !selected);
    std::vector<std::shared_ptr<EffectItem>> many;
    for (std::uint32_t i = 0; i < 31; ++i) many.push_back(effect("e" + std::to_string(100 + i), i));
    setList(many);
    EXPECT_EQ(controller.effectListModel()->rowCount(), 31);
    EXPECT_FALSE(table().isEmptyRow(30));
    EXPECT_EQ(table().verticalHeader()->defaultSectionSize(), 55);
    // 31 rows of 55 points do not fit 700: the ruler shows; one row does.
    EXPECT_TRUE(table().rulerVisible());
    click(table().viewport(), cell(1, "Note").center());
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
    EXPECT_EQ(table().fillRowView(1).row(), 1u);
    EXPECT_TRUE(TableRowChecks::checkEmptyRow(31, &table()) && !TableRowChecks::checkEmptyRow(30, &table()));
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
    EXPECT_EQ(selectedRows(), std::vector<int>{0});
    log.clear();
    star(3);  // the unknown effect
    EXPECT_TRUE(log.empty() && !controller.effectList()[3]->isFavourite);
    const int deletedRow = 2;
    ASSERT_EQ(controller.effectList()[deletedRow], deleted);
    click(table().viewport(), EffectNameTableCellView::recoveryButtonRect(cell(deletedRow, "EffectName")).center());
    EXPECT_EQ(log, (testing_app::CallLog{"recover Deleted"}));
    EXPECT_FALSE(deleted->isDeleted);
    EXPECT_EQ(selectedRows(), std::vector<int>{deletedRow});
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
        return controller.effectListModel()->index(row, EffectListModel::columnOfIdentifier("UsedTimes")).data().toString();
    };
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return controller.logic().isUpdatedEffectUsedTimesNumber(); }));
    EXPECT_EQ(usedOf(0), QStringLiteral("0"));
    click(table().viewport(), cell(1, "Note").center());
    controller.reloadDataInEffectList();
    EXPECT_EQ(usedOf(0), QStringLiteral("-"));
    EXPECT_TRUE(testing_app::processEventsUntil([&] { return controller.logic().isUpdatedEffectUsedTimesNumber(); }));
    // Reloads and the count's arrival keep the selection.
    EXPECT_EQ(selectedRows(), std::vector<int>{1});
}

TEST_F(EffectManagerViewControllerTest, HeaderClicksSortAndShowTheArrow)
{
    setList({effect("Beta", 2, 1), effect("Alpha", 1, 2)});
    const int name = EffectListModel::columnOfIdentifier("EffectName");
    const QPoint inName(controller.effectListHeader()->sectionViewportPosition(name) + 20, 10);
    click(controller.effectListHeader()->viewport(), inName);
    EXPECT_EQ(controller.effectList()[0]->effectName, "Alpha");
    CustomHeaderView& header = *controller.effectListHeader();
    EXPECT_EQ(std::tuple(header.headerCell(name).sortState(), header.headerCell(0).sortState()), std::tuple(1, 0));
    EXPECT_TRUE(!header.headerCell(0).isNotFirstCell() && header.headerCell(name).isNotFirstCell());
    EXPECT_TRUE(header.headerCell(4).isLastEffectCell() && !header.headerCell(3).isLastEffectCell());
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
        delay = groupNode("Delay", {echo, wah, odd});
        drive = groupNode("Drive", many);
        controller.setStructureData({groupNode("Rig One", {delay, drive})});
        controller.setIsEffectListLoaded(true);
        controller.reloadDataInEffectPool();
        settle();
    }
    using Nodes = std::vector<std::shared_ptr<DirectoryObject>>;
    std::shared_ptr<DirectoryObject> echo, wah, odd, delay, drive;
};

TEST_F(EffectPoolTest, ClicksOpenAndCloseGroupsAndOnlyAPressReleasedOnItsRowCounts)
{
    // Rig One (0) open, Delay (1) and Drive (2) closed.
    ASSERT_EQ(pool().shownRows().size(), 3u);
    EXPECT_FALSE(pool().rulerVisible());
    click(pool().viewport(), poolRowCentre(1));
    EXPECT_EQ(std::tuple(pool().shownRows().size(), pool().selectionIndexSet()), std::tuple(6u, std::set<int>{1}));
    EXPECT_EQ(pool().selectedNodes(), (Nodes{delay}));
    EXPECT_FALSE(controller.savingToDeviceButton()->isEnabled());
    click(pool().viewport(), poolRowCentre(2));  // Echo
    EXPECT_EQ(pool().selectedNodes(), (Nodes{echo}));
    EXPECT_EQ(controller.nameTextField()->text(), QStringLiteral("Echo [ Cat1 ]"));
    EXPECT_TRUE(controller.savingToDeviceButton()->isEnabled());
    // Pressed on Echo, released on Wah: no click.
    mouse(pool().viewport(), QEvent::MouseButtonPress, poolRowCentre(2));
    mouse(pool().viewport(), QEvent::MouseButtonRelease, poolRowCentre(3));
    EXPECT_EQ(pool().selectedNodes(), (Nodes{echo}));
    // Closing Delay again.
    click(pool().viewport(), poolRowCentre(1));
    EXPECT_EQ(pool().shownRows().size(), 3u);
    EXPECT_EQ(pool().selectedNodes(), (Nodes{delay}));
    // Opening Drive makes the rows reach below the view: the ruler shows, and goes when it closes.
    click(pool().viewport(), poolRowCentre(2));
    EXPECT_TRUE(pool().rulerVisible());
    click(pool().viewport(), pool().visualRect(pool().indexForRow(2)).center());
    EXPECT_FALSE(pool().rulerVisible());
    // Blank space under the rows clears the selection.
    click(pool().viewport(), QPoint(50, pool().viewport()->height() - 5));
    EXPECT_TRUE(pool().selectedNodes().empty() && controller.nameTextField()->text().isEmpty());
}

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
    EXPECT_TRUE(content.isEffectPoolCell && content.iconImage.isNull());
    ASSERT_EQ(content.title.runs.size(), 2);
    EXPECT_EQ(std::tuple(content.title.runs[1].start, content.title.runs[1].colour), std::tuple(6, QColor(227, 227, 0)));
    EXPECT_EQ(delayRow.data(Qt::SizeHintRole).toSize().height(), 26);
    click(pool().viewport(), poolRowCentre(1));
    const QModelIndex echoRow = pool().indexForRow(2);
    const auto leafContent = echoRow.data(CustomCellForAttributedString::kRowContentRole).value<PoolRowContent>();
    EXPECT_EQ(leafContent.iconImage.size(), QSize(10, 5));
    EXPECT_EQ(std::tuple(echoRow.data(Qt::SizeHintRole).toSize().height(), pool().visualRect(echoRow).height()), std::tuple(24, 24));
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
    ASSERT_EQ(pool().selectedNodes(), (Nodes{wah}));
    dragFrom(3, 3);
    ASSERT_EQ(drags.size(), 2u);
    EXPECT_EQ(names(drags[1]), (std::vector<std::string>{"Wah"}));
    arrow(Qt::Key_Up);
    ASSERT_EQ(pool().selectedNodes(), (Nodes{echo}));
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

// The window may delete the screen's view before the screen.
TEST_F(EffectManagerViewControllerTest, WorksOnAfterTheWindowDeletedItsView)
{
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

using Log = testing_app::CallLog;

// A main window whose unit's patch list is read when the test says so.
struct PatchListMain final : MainWindowController {
    bool read = false;
    std::vector<std::shared_ptr<PatchItem>> patches;
    QWidget* view() override { return nullptr; }
    QWidget* viewForIndicator() override { return nullptr; }
    int state() const override { return 0; }
    void setReloadBufferDataTimer() override {}
    std::optional<std::string> saveDataBeforeClosing() override { return std::nullopt; }
    std::vector<std::shared_ptr<PatchItem>> getPatchItemsInPatchList() const override { return patches; }
    bool isPatchListLoaded() const override { return read; }
};

class EffectTableTest : public EffectManagerViewControllerTest {
protected:
    EffectTableTest()
    {
        b = effect("Beta", 2, 1, 0, true);
        c = effect("Gamma", 3);
        c->isDeleted = true;
        setList({effect("Alpha", 1), b, c, effect("UNKNOWN", 9, EffectItem::kUnknownCategoryID)});
        log.clear();
    }
    QPoint at(int row) { return cell(row, "Note").center(); }
    void doubleClickRow(int row) { doubleClick(table().viewport(), at(row)); }
    void key(int code, const QString& text = {}) { testing_app::key(&table(), code, Qt::NoModifier, text); }
    bool menuShown() { return table().menuPopover() != nullptr && table().menuPopover()->isVisible(); }
    void rightClick(int row) { click(table().viewport(), at(row), Qt::RightButton); }
    // A drag entering the list and dropped at once; whether the drop was taken.
    bool dropOn(const QMimeData& data, const QPoint& point, Qt::DropActions actions = Qt::CopyAction)
    {
        QDragEnterEvent enter(point, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(table().viewport(), &enter);
        QDropEvent drop(QPointF(point), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(table().viewport(), &drop);
        return drop.isAccepted();
    }
    std::shared_ptr<EffectItem> b, c;
};

// The release decides; empty rows, the unknown effect and a showing sheet open no menu.
TEST_F(EffectTableTest, ClicksSelectOpenPropertiesAndTheMenu)
{
    click(table().viewport(), at(1));
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    doubleClickRow(0);
    EXPECT_TRUE(log == Log{"property Alpha"} && selectedRows() == std::vector<int>{0}) << testing::PrintToString(log);
    log.clear();
    doubleClickRow(3);  // the unknown effect
    doubleClickRow(10);  // an empty row
    EXPECT_TRUE(log.empty() && selectedRows() == std::vector<int>{3});
    // The row, the button and keys, whether a sheet shows, whether the menu opens.
    const std::tuple<const char*, int, Qt::MouseButton, Qt::KeyboardModifiers, bool, bool> cases[] = {
        {"right click", 1, Qt::RightButton, Qt::NoModifier, false, true}, {"ctrl click", 2, Qt::LeftButton, Qt::ControlModifier, false, true},
        {"meta click", 2, Qt::LeftButton, Qt::MetaModifier, false, true}, {"empty row", 12, Qt::RightButton, Qt::NoModifier, false, false},
        {"unknown effect", 3, Qt::RightButton, Qt::NoModifier, false, false}, {"a sheet shows", 1, Qt::RightButton, Qt::NoModifier, true, false}};
    for (const auto& [name, row, button, modifiers, showingDialog, opens] : cases) {
        SCOPED_TRACE(name);
        table().closeRightClickMenu();
        click(table().viewport(), at(0));
        appDelegate.setIsShowingDialog(showingDialog);
        click(table().viewport(), at(row), button, modifiers);
        appDelegate.setIsShowingDialog(false);
        EXPECT_EQ(menuShown(), opens);
        EXPECT_EQ(selectedRows(), (std::vector<int>{opens ? row : 0}));
        if (!opens) continue;
        ASSERT_NE(table().optionMenu(), nullptr);
        EXPECT_EQ(std::pair(table().optionMenu()->targetIndex(), table().optionMenu()->effectItem()),
                  std::pair(static_cast<std::size_t>(row), controller.effectList()[static_cast<std::size_t>(row)]));
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(EffectTableTest, OnlyArrowsMoveTheSelectionAndNoKeyWhileTheMenuShows)
{
    click(table().viewport(), at(1));
    table().setFocus();
    key(Qt::Key_A, QStringLiteral("a"));
    key(Qt::Key_Return, QStringLiteral("\r"));
    key(Qt::Key_Delete);
    key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_TRUE(selectedRows() == std::vector<int>{1} && log.empty());
    key(Qt::Key_Down);
    EXPECT_EQ(selectedRows(), (std::vector<int>{2}));
    key(Qt::Key_Up);
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    rightClick(0);
    ASSERT_TRUE(menuShown());
    key(Qt::Key_Down);
    EXPECT_EQ(selectedRows(), (std::vector<int>{0}));
}

TEST_F(EffectTableTest, PressScrollAndFocusLossCloseTheMenu)
{
    std::vector<std::shared_ptr<EffectItem>> many;
    for (std::uint32_t i = 0; i < 40; ++i) many.push_back(effect("e" + std::to_string(100 + i), i + 1));
    setList(many);
    // Narrow enough to scroll sideways too.
    table().resize(300, table().height());
    QCoreApplication::processEvents();
    ASSERT_GT(table().horizontalScrollBar()->maximum(), 0);
    const std::vector<std::pair<const char*, std::function<void()>>> closers{
        {"press", [this] { mouse(table().viewport(), QEvent::MouseButtonPress, at(5)); }},
        {"scroll", [this] { table().verticalScrollBar()->setValue(table().verticalScrollBar()->value() + 40); }},
        {"sideways scroll", [this] { table().horizontalScrollBar()->setValue(table().horizontalScrollBar()->value() + 40); }},
        {"focus loss",
         [this] {
             pool().setFocus();
             QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
             QCoreApplication::sendEvent(&table(), &out);
         }},
    };
    for (const auto& [name, close] : closers) {
        SCOPED_TRACE(name);
        table().verticalScrollBar()->setValue(0);
        table().horizontalScrollBar()->setValue(0);
        rightClick(1);
        ASSERT_TRUE(menuShown());
        close();
        EXPECT_FALSE(menuShown());
    }
}

// A favourite's answer is the opposite of the favourite at the press, not at the answer.
TEST_F(EffectTableTest, OptionMenuTitlesQuestionsAndAnswers)
{
    const auto text = [](const char* key) { return InterfaceTexts::localizedString(key); };
    rightClick(1);  // Beta, a favourite
    OptionMenuForEffectViewController* menu = table().optionMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(std::tuple(menu->favoriteButton()->text(), menu->deletingOrRecoveryButton()->text(), menu->propertyButton()->text()),
              std::tuple(text("Effect_FavouriteOff"), text("Effect_Delete"), text("Effect_Property")));
    click(menu->favoriteButton(), QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(log, (Log{"confirm Effect_RemovingFavouriteConfirmation Beta (first default)"}));
    b->isFavourite = false;  // changed meanwhile: the answer is the opposite of the state at the press
    dialogs.first();
    EXPECT_TRUE(log.back() == "favourite on Beta" && !menuShown()) << log.back();
    log.clear();
    b->effectUsedTimes = 4;
    rightClick(1);
    menu = table().optionMenu();
    EXPECT_EQ(menu->favoriteButton()->text(), text("Effect_FavouriteOff"));
    menu->deletingOrRecoveryButton()->click();
    EXPECT_EQ(log, (Log{"confirm Effect_DeletingConfirmation Beta [Effect_DeletingDescription 4] (second default)"}));
    dialogs.second();
    EXPECT_TRUE(log.size() == 1u && !b->isDeleted);
    log.clear();
    rightClick(2);  // Gamma, deleted
    menu = table().optionMenu();
    EXPECT_EQ(menu->deletingOrRecoveryButton()->text(), text("Effect_Recover"));
    appDelegate.setIsShowingDialog(true);
    for (RightClickButton* button : {menu->favoriteButton(), menu->deletingOrRecoveryButton(), menu->propertyButton()})
        button->click();
    EXPECT_TRUE(log.empty());
    appDelegate.setIsShowingDialog(false);
    menu->deletingOrRecoveryButton()->click();
    EXPECT_EQ(log, (Log{"confirm Effect_LoadingToDeviceConfirmation Gamma (first default)"}));
    rightClick(2);
    table().optionMenu()->propertyButton()->click();
    EXPECT_EQ(log.back(), "property Gamma");
}

TEST_F(EffectTableTest, AnAnswerActsOnTheEffectAnUpdateReplacedUnderItsQuestion)
{
    const auto updateRow = [this](std::size_t row) {
        const auto& old = controller.effectList()[row];
        auto newer = effect(old->effectName, old->effectType, old->effectCategoryID, 0, old->isFavourite);
        newer->fileName = old->fileName;
        controller.effectList()[row] = newer;
        controller.reloadDataInEffectList();
        return newer;
    };
    rightClick(1);  // Beta, a favourite
    table().optionMenu()->favoriteButton()->click();
    ASSERT_EQ(log.size(), 1u);
    const auto newBeta = updateRow(1);
    dialogs.first();
    EXPECT_TRUE(log.back() == "favourite off Beta" && !newBeta->isFavourite) << log.back();
    log.clear();
    rightClick(0);  // Alpha
    table().optionMenu()->deletingOrRecoveryButton()->click();
    ASSERT_EQ(log.size(), 1u);
    const auto newAlpha = updateRow(0);
    dialogs.first();
    EXPECT_TRUE(log.back() == "delete Alpha" && newAlpha->isDeleted) << log.back();
}

TEST_F(EffectTableTest, ADoubleClickOnACellButtonOpensNoPropertySheet)
{
    doubleClick(table().viewport(), FavouriteTableCellView::favouriteButtonRect(cell(0, "Favourite")).center());
    doubleClick(table().viewport(), EffectNameTableCellView::recoveryButtonRect(cell(2, "EffectName")).center());  // Gamma, deleted
    EXPECT_EQ(log, (Log{"favourite on Alpha", "recover Gamma"}));
}

// While the unit's patches are still read no count is stated as 0.
TEST_F(EffectTableTest, NoCountIsStatedWhileThePatchListIsStillBeingRead)
{
    PatchListMain main;
    controller.setMainController(&main);
    b->effectUsedTimes = 0;
    controller.reloadDataInEffectList();
    settle();
    const QModelIndex used = controller.effectListModel()->index(1, EffectListModel::columnOfIdentifier("UsedTimes"));
    EXPECT_EQ(used.data().toString().toStdString(), "-");
    doubleClickRow(1);
    rightClick(1);
    ASSERT_NE(table().optionMenu(), nullptr);
    table().optionMenu()->propertyButton()->click();
    EXPECT_EQ(log, (Log{"property Beta (uses unknown)", "property Beta (uses unknown)"}));
    log.clear();
    rightClick(1);
    table().optionMenu()->deletingOrRecoveryButton()->click();
    settle();
    EXPECT_TRUE(log.empty()) << "no question stating 0 patches";
    main.read = true;
    main.patches = {patchUsing({2}), patchUsing({1, 2}), patchUsing({3})};
    controller.reloadDataInEffectList();
    ASSERT_TRUE(testing_app::processEventsUntil([&] { return !log.empty(); }));
    EXPECT_EQ(log, (Log{"confirm Effect_DeletingConfirmation Beta [Effect_DeletingDescription 2] (second default)"}));
    EXPECT_EQ(used.data().toString().toStdString(), "2");
    dialogs.second();
    log.clear();
    b->effectUsedTimes = 0;
    controller.reloadDataInEffectList();
    doubleClickRow(1);
    EXPECT_TRUE(log == Log{"property Beta"} && b->effectUsedTimes == 2) << testing::PrintToString(log);
    settle();
    controller.setMainController(nullptr);
}

// Through the real dialog queue: Return confirms a favourite and cancels a delete.
TEST(EffectOptionMenuQueue, ReturnConfirmsAFavouriteAndCancelsADelete)
{
    testing_app::application();
    AppDelegate appDelegate;
    ShowingDialogQueue queue(appDelegate);
    QueueEffectDialogs dialogs(queue);
    struct Answers final : QObject, OptionMenuForEffectViewControllerDelegate {
        Log log;
        void optionMenuDidClickOnFavoriteButton(bool on, std::size_t at, const std::shared_ptr<EffectItem>&) override
        {
            log.push_back("favourite " + std::to_string(on) + " " + std::to_string(at));
        }
        void optionMenuDidClickOnDeletingButtonAtIndex(std::size_t, const std::shared_ptr<EffectItem>&) override { log.push_back("delete"); }
        void optionMenuDidClickOnRecoveryButtonAtIndex(std::size_t, const std::shared_ptr<EffectItem>&) override {}
        void optionMenuDidClickOnPropertyButtonAtIndex(std::size_t, const std::shared_ptr<EffectItem>&) override {}
        void optionMenuDidCancelDeletingAtIndex(std::size_t) override { log.push_back("cancel delete"); }
        void optionMenuDidCancelChangingFavouriteAtIndex(std::size_t) override { log.push_back("cancel favourite"); }
    } answers;
    const auto pressReturn = [&queue] {
        ASSERT_NE(queue.confirmationView(), nullptr);
        testing_app::key(queue.confirmationView(), Qt::Key_Return);
    };
    auto item = effect("Echo", 5, 1, 0);
    {
        OptionMenuForEffectViewController menu(appDelegate, dialogs, 3, item, &answers, &answers);
        menu.favoriteButton()->click();
        EXPECT_TRUE(queue.confirmationView()->titleLabel()->text().contains(QStringLiteral("Echo")));
        pressReturn();
        menu.deletingOrRecoveryButton()->click();
        EXPECT_TRUE(queue.confirmationView()->descriptionLabel()->text().startsWith(QStringLiteral("0 ")));
    }
    // The menu has gone; the question still answers.
    pressReturn();
    EXPECT_EQ(answers.log, (Log{"favourite 1 3", "cancel delete"}));
    EXPECT_FALSE(appDelegate.isShowingDialog());
}

TEST_F(EffectTableTest, DropsTakeTheRowRuleAndOnlyThePoolsOwnEffects)
{
    auto echo = leaf(effect("Echo", 11)), wah = leaf(effect("Wah", 12));
    controller.setStructureData({groupNode("Rig", {groupNode("Delay", {echo, wah})})});
    controller.reloadDataInEffectPool();
    std::vector<std::pair<std::string, std::int64_t>> added;
    const auto recordAdds = [&] {
        table().setAddItemByDraggingBlock([&added](const std::shared_ptr<EffectItem>& item, std::int64_t row) {
            added.emplace_back(item->effectName, row);
        });
    };
    const auto drop = [this](const QMimeData& data, const QPoint& point, Qt::DropActions actions = Qt::CopyAction) {
        return dropOn(data, point, actions);
    };
    const auto dragged = [](std::vector<std::shared_ptr<EffectItem>> items) {
        return EffectItemDrag::mimeDataForItems(items);
    };
    const auto both = dragged({effect("Echo", 11), effect("Wah", 12)});
    // A drop made by hand comes from no view of ours: refused as a foreign source.
    EXPECT_FALSE(drop(*both, at(1)));
    EXPECT_TRUE(log.empty());
    table().setAcceptsDragSource([](const QObject*) { return true; });
    recordAdds();
    EXPECT_TRUE(drop(*both, at(1)));
    EXPECT_EQ(added, (std::vector<std::pair<std::string, std::int64_t>>{{"Echo", 1}, {"Wah", 2}}));
    added.clear();
    EXPECT_TRUE(drop(*dragged({effect("Echo", 11)}), at(20)));  // blank rows: the last effect's row
    EXPECT_EQ(added, (std::vector<std::pair<std::string, std::int64_t>>{{"Echo", 3}}));
    added.clear();
    EXPECT_FALSE(drop(*both, at(1), Qt::MoveAction));  // no copy
    EXPECT_TRUE(added.empty());
    // The pool's own item goes, not what the drag carried.
    auto forged = effect("Forged", 12);
    forged->path = "/etc/passwd";
    drop(*dragged({forged}), at(0));
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].first, "Wah");
    // Nothing readable: the drop ends, then the failure waits its turn.
    added.clear();
    QMimeData garbage;
    garbage.setData(QString::fromLatin1(EffectItemDrag::kMimeType), QByteArray("not an archive"));
    EXPECT_FALSE(drop(garbage, at(0)));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(testing_app::processEventsUntil([this] { return !log.empty(); }));
    EXPECT_EQ(log, (Log{"information Common_Fail"}));
    EXPECT_FALSE(drop(*dragged({effect("NotInPool", 77)}), at(0)));
    EXPECT_TRUE(added.empty());
    // An empty list: row 0 from anywhere on its rows.
    setList({});
    drop(*dragged({effect("Echo", 11)}), at(7));
    EXPECT_EQ(added, (std::vector<std::pair<std::string, std::int64_t>>{{"Echo", 0}}));
}

TEST_F(EffectTableTest, ADroppedEffectIsAddedThroughTheScreen)
{
    auto wah = leaf(effect("Wah", 12));
    controller.setStructureData({groupNode("Rig", {groupNode("Delay", {wah})})});
    table().setAcceptsDragSource([](const QObject*) { return true; });
    table().setFocus();
    dropOn(*EffectItemDrag::mimeDataForItems({effect("Wah", 12)}), at(1));
    EXPECT_EQ(log, (Log{"add Wah"}));
    const auto& list = controller.effectList();
    const auto found = std::find_if(list.begin(), list.end(), [](const auto& item) { return item->effectName == "Wah"; });
    ASSERT_NE(found, list.end());
    EXPECT_EQ(selectedRows(), (std::vector<int>{static_cast<int>(found - list.begin())}));
    EXPECT_FALSE(table().hasFocus());
}

}  // namespace
