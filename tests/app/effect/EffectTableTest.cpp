#include <gtest/gtest.h>

#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>

#include "EffectControllerRig.h"
#include "app/controls/RightClickButton.h"
#include "app/dialogs/ConfirmationView.h"
#include "app/dialogs/ShowingDialogQueue.h"
#include "app/effect/EffectItemDrag.h"
#include "app/effect/EffectNameTableCellView.h"
#include "app/effect/FavouriteTableCellView.h"
#include "app/effect/OptionMenuForEffectViewController.h"
#include "app/effect/QueueEffectDialogs.h"
#include "app/shell/MainWindowController.h"
#include "app/views/InterfaceTexts.h"

using namespace effect_test;

namespace {

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
    std::vector<int> selectedRows()
    {
        std::vector<int> rows;
        for (const QModelIndex& index : table().selectionModel()->selectedRows()) rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void doubleClickRow(int row) { doubleClick(table().viewport(), at(row)); }
    void key(int code, const QString& text = {}) { testing_app::key(&table(), code, Qt::NoModifier, text); }
    bool menuShown() { return table().menuPopover() != nullptr && table().menuPopover()->isVisible(); }
    void rightClick(int row) { click(table().viewport(), at(row), Qt::RightButton); }
    // The list shown under a main window whose patch list is not read yet, Beta counted 0 before.
    void showOverAnUnreadPatchList(PatchListMain& main)
    {
        controller.setMainController(&main);
        b->effectUsedTimes = 0;
        controller.reloadDataInEffectList();
        settle();
    }
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

// The release decides: one click selects alone, two open the properties of an effect row, and Ctrl
// or the right button open the option menu, except on empty rows, the unknown effect or a showing sheet.
TEST_F(EffectTableTest, ClicksSelectOpenPropertiesAndTheMenu)
{
    click(table().viewport(), at(1));
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    doubleClickRow(0);
    EXPECT_EQ(log, (Log{"property Alpha"}));
    EXPECT_EQ(selectedRows(), (std::vector<int>{0}));
    log.clear();
    doubleClickRow(3);  // the unknown effect
    doubleClickRow(10);  // an empty row
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(selectedRows(), (std::vector<int>{3}));
    struct Case {
        const char* name;
        int row;
        Qt::MouseButton button;
        Qt::KeyboardModifiers modifiers;
        bool showingDialog;
        bool opens;
    };
    for (const Case& each : {Case{"right click", 1, Qt::RightButton, Qt::NoModifier, false, true},
                             Case{"ctrl click", 2, Qt::LeftButton, Qt::ControlModifier, false, true},
                             Case{"meta click", 2, Qt::LeftButton, Qt::MetaModifier, false, true},
                             Case{"empty row", 12, Qt::RightButton, Qt::NoModifier, false, false},
                             Case{"unknown effect", 3, Qt::RightButton, Qt::NoModifier, false, false},
                             Case{"a sheet shows", 1, Qt::RightButton, Qt::NoModifier, true, false}}) {
        SCOPED_TRACE(each.name);
        table().closeRightClickMenu();
        click(table().viewport(), at(0));
        appDelegate.setIsShowingDialog(each.showingDialog);
        click(table().viewport(), at(each.row), each.button, each.modifiers);
        appDelegate.setIsShowingDialog(false);
        EXPECT_EQ(menuShown(), each.opens);
        EXPECT_EQ(selectedRows(), (std::vector<int>{each.opens ? each.row : 0}));
        if (each.opens) {
            ASSERT_NE(table().optionMenu(), nullptr);
            EXPECT_EQ(table().optionMenu()->targetIndex(), static_cast<std::size_t>(each.row));
            EXPECT_EQ(table().optionMenu()->effectItem(), controller.effectList()[static_cast<std::size_t>(each.row)]);
        }
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
    EXPECT_EQ(selectedRows(), (std::vector<int>{1}));
    EXPECT_TRUE(log.empty());
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

// The menu's titles follow the effect; favouring asks with OK as default and sends the opposite of the
// favourite at the press, deleting asks with Cancel as default and the use count, restoring and the
// properties answer at once; nothing while a sheet shows.
TEST_F(EffectTableTest, OptionMenuTitlesQuestionsAndAnswers)
{
    const auto text = [](const char* key) { return InterfaceTexts::localizedString(key); };
    rightClick(1);  // Beta, a favourite
    OptionMenuForEffectViewController* menu = table().optionMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->favoriteButton()->text(), text("Effect_FavouriteOff"));
    EXPECT_EQ(menu->deletingOrRecoveryButton()->text(), text("Effect_Delete"));
    EXPECT_EQ(menu->propertyButton()->text(), text("Effect_Property"));
    click(menu->favoriteButton(), QPoint(5, 5), Qt::RightButton);
    EXPECT_EQ(log, (Log{"confirm Effect_RemovingFavouriteConfirmation Beta (first default)"}));
    b->isFavourite = false;  // changed meanwhile: the answer is the opposite of the state at the press
    dialogs.first();
    EXPECT_EQ(log.back(), "favourite on Beta");
    EXPECT_FALSE(menuShown());
    log.clear();
    b->effectUsedTimes = 4;
    rightClick(1);
    menu = table().optionMenu();
    EXPECT_EQ(menu->favoriteButton()->text(), text("Effect_FavouriteOff"));
    menu->deletingOrRecoveryButton()->click();
    EXPECT_EQ(log, (Log{"confirm Effect_DeletingConfirmation Beta [Effect_DeletingDescription 4] (second default)"}));
    dialogs.second();
    EXPECT_EQ(log.size(), 1u);
    EXPECT_FALSE(b->isDeleted);
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

// An update under a question puts a new object in the effect's row: the answer acts on the effect there.
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
    EXPECT_EQ(log.back(), "favourite off Beta");
    EXPECT_FALSE(newBeta->isFavourite);
    log.clear();
    rightClick(0);  // Alpha
    table().optionMenu()->deletingOrRecoveryButton()->click();
    ASSERT_EQ(log.size(), 1u);
    const auto newAlpha = updateRow(0);
    dialogs.first();
    EXPECT_EQ(log.back(), "delete Alpha");
    EXPECT_TRUE(newAlpha->isDeleted);
}

// A double click on the star or the Recover button is that button's click, and opens no property sheet.
TEST_F(EffectTableTest, ADoubleClickOnACellButtonOpensNoPropertySheet)
{
    doubleClick(table().viewport(), FavouriteTableCellView::favouriteButtonRect(cell(0, "Favourite")).center());
    doubleClick(table().viewport(), EffectNameTableCellView::recoveryButtonRect(cell(2, "EffectName")).center());  // Gamma, deleted
    EXPECT_EQ(log, (Log{"favourite on Alpha", "recover Gamma"}));
}

// While the unit's patches are still read, the use counts show "-" and a delete question waits for the
// true count, asked once the list is read and counted.
TEST_F(EffectTableTest, ADeleteQuestionWaitsForTheCountOfAPatchListStillBeingRead)
{
    PatchListMain main;
    showOverAnUnreadPatchList(main);
    const QModelIndex used = controller.effectListModel()->index(1, EffectListModel::columnOfIdentifier("UsedTimes"));
    EXPECT_EQ(used.data().toString().toStdString(), "-");
    rightClick(1);
    ASSERT_NE(table().optionMenu(), nullptr);
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
    controller.setMainController(nullptr);
}

// The property sheet opened while the unit's patches are still read says the count is unknown rather
// than 0; opened while the list's count runs, it counts its effect at once.
TEST_F(EffectTableTest, ThePropertySheetStatesNoFalseCountWhilePatchesAreRead)
{
    PatchListMain main;
    showOverAnUnreadPatchList(main);
    doubleClickRow(1);
    rightClick(1);
    ASSERT_NE(table().optionMenu(), nullptr);
    table().optionMenu()->propertyButton()->click();
    EXPECT_EQ(log, (Log{"property Beta (uses unknown)", "property Beta (uses unknown)"}));
    log.clear();
    main.read = true;
    main.patches = {patchUsing({2}), patchUsing({1, 2}), patchUsing({3})};
    controller.reloadDataInEffectList();
    doubleClickRow(1);
    EXPECT_EQ(log, (Log{"property Beta"}));
    EXPECT_EQ(b->effectUsedTimes, 2);
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
        void optionMenuDidClickOnFavoriteButton(bool on, std::size_t index, const std::shared_ptr<EffectItem>&) override
        {
            log.push_back("favourite " + std::to_string(on) + " " + std::to_string(index));
        }
        void optionMenuDidClickOnDeletingButtonAtIndex(std::size_t, const std::shared_ptr<EffectItem>&) override
        {
            log.push_back("delete");
        }
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

// Drops: the target row from the pointer, copies only, only from the program's pool, only readable items.
TEST_F(EffectTableTest, DropsTakeTheRowRuleAndOnlyThePoolsOwnEffects)
{
    auto echo = leaf(effect("Echo", 11)), wah = leaf(effect("Wah", 12));
    controller.setStructureData({group("Rig", {group("Delay", {echo, wah})})});
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

// The screen's own adding callback: a dropped pool effect is added and selected, and the list lets go of
// the focus.
TEST_F(EffectTableTest, ADroppedEffectIsAddedThroughTheScreen)
{
    auto wah = leaf(effect("Wah", 12));
    controller.setStructureData({group("Rig", {group("Delay", {wah})})});
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
