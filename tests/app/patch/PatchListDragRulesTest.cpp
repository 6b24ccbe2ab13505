#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/patch/PatchListDragRules.h"
#include "library/models/PatchItem.h"

namespace {

using Rules = PatchListDragRules;

TEST(PatchListDragRulesTest, TheProposedRowIsTheRowTheDropLandsAbove)
{
    // Rows of 55 points; row 2 spans 110..165.
    const struct {
        double y;
        int rowAt;
        std::int64_t row;
    } cases[] = {{110, 2, 2}, {137, 2, 2}, {138, 2, 3}, {164, 2, 3}, {2000, -1, 30}};
    for (const auto& item : cases)
        EXPECT_EQ(Rules::proposedRow(item.y, 30, item.rowAt, item.rowAt * 55.0, 55), item.row) << item.y;
}

TEST(PatchListDragRulesTest, AForeignDropFillsRowsUpToTheFirstEmptyRow)
{
    const auto emptyFrom = [](int first) { return [first](int row) { return row >= first; }; };
    EXPECT_EQ(Rules::rowsWhenDragging(3, 3, 30, emptyFrom(30)), (std::vector<std::uint64_t>{3, 4, 5}));
    EXPECT_EQ(Rules::rowsWhenDragging(28, 4, 30, emptyFrom(30)), (std::vector<std::uint64_t>{28, 29}));
    EXPECT_EQ(Rules::rowsWhenDragging(0, 30, 30, emptyFrom(20)).size(), 20u);
    EXPECT_TRUE(Rules::rowsWhenDragging(-1, 3, 30, emptyFrom(30)).empty());
}

TEST(PatchListDragRulesTest, AForeignDragIsAnsweredOnEntryAndAtEachMove)
{
    const auto count = [](std::int64_t answer) { return [answer] { return answer; }; };
    Rules::Foreign files;
    files.generic = true;
    files.rowUnderPointer = 28;
    files.rowIsEmpty = false;
    files.fileCount = 4;
    files.rowCount = 30;

    Rules::Answer answer = Rules::foreignEntered(files);
    EXPECT_EQ(answer.operation, Rules::kGeneric);
    EXPECT_EQ(answer.row, 28);
    EXPECT_EQ(answer.numberOfSentItems, 4);

    Rules::Foreign refused = files;
    refused.fileCount = std::nullopt;
    EXPECT_EQ(Rules::foreignEntered(refused).operation, Rules::kNone);
    refused = files;
    refused.generic = false;
    EXPECT_EQ(Rules::foreignEntered(refused).operation, Rules::kNone);
    refused = files;
    refused.rowIsEmpty = true;
    EXPECT_EQ(Rules::foreignEntered(refused).operation, Rules::kNone);
    refused = files;
    refused.locked = true;
    EXPECT_EQ(Rules::foreignEntered(refused).operation, Rules::kNone);

    // The pool's backup-all group of the model fills from row 0, and waits for a running restore.
    Rules::Foreign backup = files;
    backup.fileCount = 0;
    backup.fromPool = true;
    backup.poolCount = count(-1);
    answer = Rules::foreignEntered(backup);
    EXPECT_EQ(answer.operation, Rules::kGeneric);
    EXPECT_EQ(answer.row, 0);
    EXPECT_EQ(answer.numberOfSentItems, 30);
    EXPECT_TRUE(answer.isDroppingBackupAllGroup);
    Rules::Answer moved = Rules::foreignUpdated(backup, 30, true);
    EXPECT_EQ(moved.row, 0);
    EXPECT_FALSE(moved.placeSelection);
    backup.restoringAll = true;
    EXPECT_EQ(Rules::foreignEntered(backup).operation, Rules::kNone);
    EXPECT_EQ(Rules::foreignUpdated(backup, 30, true).operation, Rules::kNone);

    // Nothing compatible dragged: let in, refused at the first move.
    Rules::Foreign nothing = backup;
    nothing.restoringAll = false;
    nothing.poolCount = count(0);
    answer = Rules::foreignEntered(nothing);
    EXPECT_EQ(answer.operation, Rules::kGeneric);
    EXPECT_EQ(Rules::foreignUpdated(nothing, answer.numberOfSentItems, false).operation, Rules::kNone);
}

TEST(PatchListDragRulesTest, FilesUnderTheOwnFolderRefuseTheWholeDrag)
{
    const auto isPatch = [](const std::string& path) { return path.size() > 5 && path.substr(path.size() - 5) == ".qptc"; };
    EXPECT_EQ(Rules::countDroppableFiles({"/a/1.qptc", "/a/x.txt", "/a/2.qptc"}, "/own", isPatch), 2);
    EXPECT_EQ(Rules::countDroppableFiles({"/a/1.qptc", "/own/Temp/2.qptc"}, "/own", isPatch), std::nullopt);
}

TEST(PatchListDragRulesTest, AFileCountReadsOnlyUntilTheRoomIsFilledButJudgesEveryPath)
{
    std::vector<std::string> read;
    const auto isPatch = [&read](const std::string& path) {
        read.push_back(path);
        return path.size() > 5 && path.substr(path.size() - 5) == ".qptc";
    };
    const std::vector<std::string> paths{"/a/1.qptc", "/a/x.txt", "/a/2.qptc", "/a/3.qptc", "/a/4.qptc"};
    EXPECT_EQ(Rules::countDroppableFiles(paths, "/own", isPatch, 2), 2);
    EXPECT_EQ(read, (std::vector<std::string>{"/a/1.qptc", "/a/x.txt", "/a/2.qptc"}));
    read.clear();
    EXPECT_EQ(Rules::countDroppableFiles(paths, "/own", isPatch, 0), 0);
    EXPECT_TRUE(read.empty());
    // A refused path refuses the whole drag wherever it lies, past the room too, and nothing is read.
    for (const std::string& refused : {std::string("/own/Temp/5.qptc"), std::string("/a/line\nbreak.qptc"),
                                       std::string("relative.qptc")}) {
        std::vector<std::string> withRefused = paths;
        withRefused.push_back(refused);
        read.clear();
        for (const std::int64_t room : {std::int64_t{0}, std::int64_t{2}, std::int64_t{100}})
            EXPECT_EQ(Rules::countDroppableFiles(withRefused, "/own", isPatch, room), std::nullopt) << refused << room;
        EXPECT_TRUE(read.empty()) << refused;
    }
}

TEST(PatchListDragRulesTest, DroppedFilesTakeOnlySlotsOfTheDeviceAndCopyOnlyWhatFits)
{
    std::vector<std::string> copied;
    const auto copy = [&copied](const std::string& path) -> std::shared_ptr<PatchItem> {
        copied.push_back(path);
        if (path == "bad.qptc") return nullptr;
        auto item = std::make_shared<PatchItem>();
        item->path = "work/" + path;
        return item;
    };
    const auto isPatch = [](const std::string& path) { return path.find(".qptc") != std::string::npos; };
    auto items = Rules::takeDroppedFiles({"1.qptc", "2.qptc", "3.qptc", "4.qptc"}, 28, 30, isPatch, copy);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(copied, (std::vector<std::string>{"1.qptc", "2.qptc"}));
    // A 20-slot device under a 30-row list: rows past slot 19 take nothing.
    copied.clear();
    EXPECT_EQ(Rules::takeDroppedFiles({"1.qptc", "2.qptc"}, 19, 20, isPatch, copy).size(), 1u);
    EXPECT_TRUE(Rules::takeDroppedFiles({"1.qptc"}, 25, 20, isPatch, copy).empty());
    // A failed copy and a file that is no patch are skipped.
    copied.clear();
    items = Rules::takeDroppedFiles({"bad.qptc", "x.txt", "2.qptc"}, 0, 30, isPatch, copy);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.front()->path, "work/2.qptc");
}

TEST(PatchListDragRulesTest, AReorderAfterTheLastLineTargetsTheRowBelow)
{
    EXPECT_EQ(Rules::reorderMarkerRow(-1, 30), 29);
    EXPECT_EQ(Rules::reorderMarkerRow(30, 30), 29);
    EXPECT_EQ(Rules::reorderMarkerRow(4, 30), 4);
    EXPECT_EQ(Rules::reorderTarget(29, true), 30);
    EXPECT_EQ(Rules::reorderTarget(4, false), 4);
    EXPECT_TRUE(Rules::isUncontinuous({3, 5}));
    EXPECT_FALSE(Rules::isUncontinuous({3, 4, 5}));
    EXPECT_EQ(Rules::reorderAnswer(false, true), Rules::kNone);
}

}  // namespace
