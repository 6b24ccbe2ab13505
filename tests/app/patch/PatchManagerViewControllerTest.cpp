#include <gtest/gtest.h>

#include <QPushButton>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchListTableModel.h"
#include "support/app/PatchScreenRig.h"

namespace {

using testing_app::PatchScreenRig;

class PatchManagerViewControllerTest : public PatchScreenRig {};

TEST_F(PatchManagerViewControllerTest, LockingThePoolLocksTheListWhateverTheListIsAskedFor)
{
    struct Case {
        bool pool;
        bool list;
        bool expected;
    };
    for (const Case c : {Case{true, false, true}, Case{true, true, true}, Case{false, false, false}, Case{false, true, true}}) {
        screen->setLockPatchPool(c.pool);
        screen->setlockPatchList(c.list);
        EXPECT_EQ(screen->patchManagerTableView()->lockTableView(), c.expected) << c.pool << c.list;
        EXPECT_EQ(screen->isLockPatchPool(), c.pool);
    }
}

TEST_F(PatchManagerViewControllerTest, TheButtonNamesTheModeAndStartsDisabled)
{
    EXPECT_FALSE(screen->backUpAllOrRestoreAllButton()->isEnabled());
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Back Up All");
    screen->setIsRestoreAllMode(true);
    screen->setArrowImageWithBackupAllAndRestoreAllState();
    EXPECT_EQ(screen->backUpAllOrRestoreAllButton()->text().toStdString(), "Restore All");
}

}  // namespace
