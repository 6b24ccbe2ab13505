#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QPainter>
#include <QStandardItemModel>
#include <QWidget>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/views/NamedImages.h"
#include "support/app/TestApplication.h"

namespace {

using Cell = CustomCellForAttributedString;

class PoolRowCell : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
};

TEST_F(PoolRowCell, RowPiecesFollowTheTitleAndStayInsideTheRow)
{
    const QRectF frame(0, 0, 300, 24);
    const auto row = [&](QSizeF title, bool single, bool icon, bool status, bool highlighted, bool editing, bool empty = false) {
        return Cell::Row{frame, title, 16, empty, single, icon, status, highlighted, editing};
    };
    struct Case {
        const char* what;
        Cell::Row row;
        std::optional<QRectF> selection, icon, status, title;
    };
    // The title rectangle is centred on the 18-point text (y 3), grows by 6 and rises by 1, then by
    // trunc((24 - 16) / 2 + 0.5) = 4: y -2, height 24; the swatch sits 10.5 above its bottom. The title
    // itself is drawn over the row's height.
    const Case cases[] = {
        {"patch in a group", row({80, 18}, false, true, true, true, false), QRectF(0, 0, 295, 24),
         QRectF(3, 11.5, 10, 5), QRectF(100, 1, 22, 22), QRectF(15, 0, 280, 24)},
        {"top-level patch", row({80, 18}, true, true, false, false, false), std::nullopt, QRectF(25, 11.5, 10, 5),
         std::nullopt, QRectF(37, 0, 258, 24)},
        {"selected top-level patch", row({80, 18}, true, false, false, true, false), QRectF(22, 0, 295, 24),
         std::nullopt, std::nullopt, QRectF(32, 0, 263, 24)},
        {"group", row({80, 18}, false, false, false, false, false), std::nullopt, std::nullopt, std::nullopt,
         QRectF(10, 0, 285, 24)},
        {"status ends on the edge", row({258, 18}, false, true, true, false, false), std::nullopt,
         QRectF(3, 11.5, 10, 5), QRectF(278, 1, 22, 22), QRectF(15, 0, 280, 24)},
        {"status past the edge", row({259, 18}, false, true, true, false, false), std::nullopt,
         QRectF(3, 11.5, 10, 5), std::nullopt, QRectF(15, 0, 280, 24)},
        {"being edited", row({80, 18}, true, true, true, true, true), std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
        {"empty title", row({0, 0}, true, true, true, true, false, true), std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
    };
    for (const Case& c : cases) {
        const Cell::Layout layout = Cell::layout(c.row);
        EXPECT_EQ(std::tie(layout.selection, layout.icon, layout.status, layout.title), std::tie(c.selection, c.icon, c.status, c.title))
            << c.what;
    }
    // A text taller than the frame keeps the frame.
    EXPECT_EQ(Cell::titleRectForBounds(frame, 30), frame);
    EXPECT_EQ(Cell::checkWidthForTextRect(QRectF(10, 0, 100, 20), frame), QRectF(10, 0, 100, 20));
}

struct Painted {
    QImage image;
    QStandardItemModel model;
    Cell cell;
    QWidget host;
    QImage paint(const PoolRowContent& content, bool selected)
    {
        if (model.rowCount() == 0) model.appendRow(new QStandardItem);
        model.item(0)->setData(QVariant::fromValue(content), Cell::kRowContentRole);
        image = QImage(300, 24, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 300, 24);
        option.state = selected ? QStyle::State_Selected : QStyle::State_None;
        cell.paint(&painter, option, model.index(0, 0));
        return image;
    }
    bool hasColourIn(QRect area, QColor colour) const
    {
        for (int y = std::max(0, area.top()); y <= std::min(image.height() - 1, area.bottom()); ++y)
            for (int x = std::max(0, area.left()); x <= std::min(image.width() - 1, area.right()); ++x)
                if (const QColor seen = image.pixelColor(x, y); seen.alpha() == 255 && std::abs(seen.red() - colour.red()) < 8 &&
                                                                std::abs(seen.green() - colour.green()) < 8 &&
                                                                std::abs(seen.blue() - colour.blue()) < 8)
                    return true;
        return false;
    }
    bool blank() const
    {
        return std::all_of(image.constBits(), image.constBits() + image.sizeInBytes(), [](uchar b) { return b == 0; });
    }
};

PoolRowContent newGroupTitle()
{
    PoolRowContent content;
    content.title.text = QStringLiteral("Dynamics - NEW");
    content.title.font.setPixelSize(16);
    content.title.font.setBold(true);
    content.title.colour = QColor(153, 153, 153);
    content.title.runs.append({static_cast<int>(content.title.text.size()) - 5, 5, QColor(227, 227, 0)});
    return content;
}

TEST_F(PoolRowCell, SelectedRowsTakeTheirPoolsPicturesAndTitlesTheirRunsColours)
{
    Painted painted;
    PoolRowContent content = newGroupTitle();
    content.isEffectPoolCell = true;
    content.iconImage = Cell::swatch(QColor(200, 10, 10));
    painted.paint(content, true);
    const QColor effectSelection = NamedImages::image(Cell::selectionImageName(true, 1)).pixelColor(6, 12);
    EXPECT_EQ(painted.image.pixelColor(280, 12).rgb(), effectSelection.rgb());
    EXPECT_EQ(painted.image.pixelColor(298, 12).alpha(), 0) << "the selection stops 5 points short";
    EXPECT_TRUE(painted.hasColourIn(QRect(3, 11, 10, 5), QColor(200, 10, 10)));
    const int split = QFontMetrics(content.title.font).horizontalAdvance(QStringLiteral("Dynamics "));
    EXPECT_TRUE(painted.hasColourIn(QRect(15, 0, split - 2, 24), QColor(153, 153, 153)));
    EXPECT_FALSE(painted.hasColourIn(QRect(15, 0, split - 2, 24), QColor(227, 227, 0)));
    EXPECT_TRUE(painted.hasColourIn(QRect(15 + split, 0, 100, 24), QColor(227, 227, 0)));
    content.isEffectPoolCell = false;
    painted.paint(content, true);
    const QColor patchSelection = NamedImages::image(Cell::selectionImageName(false, 1)).pixelColor(6, 12);
    EXPECT_EQ(painted.image.pixelColor(280, 12).rgb(), patchSelection.rgb());
    painted.paint(content, false);
    EXPECT_EQ(painted.image.pixelColor(280, 12).alpha(), 0);
}

TEST_F(PoolRowCell, EmptyTitleAndTheRowBeingEditedDrawNothing)
{
    Painted painted;
    PoolRowContent empty;
    empty.iconImage = Cell::swatch(Qt::red);
    empty.isSingleItem = true;
    painted.paint(empty, true);
    EXPECT_TRUE(painted.blank());
    const PoolRowContent content = newGroupTitle();
    painted.paint(content, true);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 300, 24);
    QWidget* editor = painted.cell.createEditor(&painted.host, option, painted.model.index(0, 0));
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(painted.cell.isEditing(painted.model.index(0, 0)));
    // Only the editor shows; the row needs repainting under it all the same.
    painted.paint(content, true);
    EXPECT_TRUE(painted.blank());
    painted.cell.destroyEditor(editor, painted.model.index(0, 0));
    EXPECT_FALSE(painted.cell.isEditing(painted.model.index(0, 0)));
}

TEST_F(PoolRowCell, RunsOutsideTheTitleAreCutToIt)
{
    AttributedTitle title;
    title.text = QStringLiteral("Drive");
    title.runs = {{3, 10, Qt::yellow}, {-4, 2, Qt::red}, {9, 2, Qt::blue}};
    const auto formats = title.formats();
    ASSERT_EQ(formats.size(), 2);
    EXPECT_EQ(std::tuple(formats[0].start, formats[0].length, formats[1].start, formats[1].length), std::tuple(0, 5, 3, 2));
}

TEST_F(PoolRowCell, ATitleTooLongForItsRowEndsInAnEllipsis)
{
    QFont font;
    font.setPixelSize(17);
    font.setBold(true);
    const QFontMetricsF metrics(font);
    const QString name = QStringLiteral("Backup_Rigmora One_20261201_18_30");
    const QSizeF oneLine(metrics.horizontalAdvance(QStringLiteral("Backup_Rigmora")), metrics.height() + 2);
    const QString shown = Cell::fittedTitle(name, font, oneLine);
    ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(name.startsWith(shown.chopped(1)));
    EXPECT_LE(metrics.horizontalAdvance(shown), oneLine.width());
    // Room for every line: the title as it is.
    EXPECT_EQ(Cell::fittedTitle(name, font, QSizeF(oneLine.width(), metrics.height() * 4)), name);
    EXPECT_EQ(Cell::fittedTitle(QStringLiteral("Live Set"), font, oneLine), QStringLiteral("Live Set"));
    // Two lines of room: the first stays whole, the second is cut.
    const QString two = Cell::fittedTitle(name, font, QSizeF(oneLine.width(), metrics.height() * 2 + 2));
    EXPECT_TRUE(two.endsWith(QChar(0x2026)));
    EXPECT_GT(two.size(), shown.size());
}

}  // namespace
