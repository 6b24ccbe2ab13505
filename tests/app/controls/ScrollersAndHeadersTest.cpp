#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWidget>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/CustomHeaderCell.h"
#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/NoBackgroundScroller.h"
#include "app/controls/ThreePartImage.h"
#include "app/shell/AppDelegate.h"
#include "app/views/NamedImages.h"
#include "support/app/Events.h"
#include "support/app/TestApplication.h"

namespace {

class ScrollersAndHeaders : public ::testing::Test {
protected:
    void SetUp() override { testing_app::application(); }
    void TearDown() override { AppDelegate::getInstance().setDeviceConnected(false); }
};

void press(QWidget& widget, QPoint at, QEvent::Type type = QEvent::MouseButtonPress) { testing_app::mouse(&widget, type, at); }

// A scroller of 200 points over a range of 300 in pages of 100.
void setUp(QScrollBar& scroller, QSize size = {15, 200})
{
    scroller.resize(size);
    scroller.setRange(0, 300);
    scroller.setPageStep(100);
}

TEST_F(ScrollersAndHeaders, KnobStaysBetweenTheArrowsAndShowsOnlyWhileTheContentOverflows)
{
    const QRectF slot(0, 0, 15, 200);
    const QRectF top = CustomScroller::topArrowRectIn(slot), bottom = CustomScroller::bottomArrowRectIn(slot);
    EXPECT_EQ(std::pair(top, bottom), std::pair(QRectF(0, 0, 15, 15), QRectF(0, 185, 15, 15)));
    struct Case {
        const char* what;
        QRectF standard;
        bool visible;
        double proportion;
        std::optional<QRectF> knob;
    };
    const Case cases[] = {
        {"hidden ruler", {0, 50, 15, 40}, false, 0.3, std::nullopt},
        {"content fits", {0, 0, 15, 200}, true, 1.0, std::nullopt},
        {"more than fits", {0, 0, 15, 200}, true, 1.5, std::nullopt},
        {"free between the arrows", {0, 50, 15, 40}, true, 0.3, QRectF(1, 50, 13, 40)},
        {"over the up arrow", {0, 0, 15, 40}, true, 0.3, QRectF(1, 15, 13, 40)},
        {"over the down arrow", {0, 160, 15, 40}, true, 0.3, QRectF(1, 145, 13, 40)},
        {"part points are dropped going up", {0, 150.5, 15, 40}, true, 0.3, QRectF(1, 145.5, 13, 40)},
        {"still over the arrow fills the room", {0, 4.5, 15, 40}, true, 0.3, QRectF(1, 15, 13, 170)},
        {"taller than the room", {0, 0, 15, 190}, true, 0.95, QRectF(1, 15, 13, 170)},
        {"exactly the room", {0, 15, 15, 170}, true, 0.9, QRectF(1, 15, 13, 170)},
    };
    for (const Case& c : cases) EXPECT_EQ(CustomScroller::knobRect(c.standard, top, bottom, c.visible, c.proportion), c.knob) << c.what;
}

TEST_F(ScrollersAndHeaders, StandardKnobFollowsTheValueAndTheVisibleShare)
{
    const QRectF slot(0, 0, 15, 200);
    EXPECT_DOUBLE_EQ(CustomScroller::knobProportion(0, 0, 10), 1.0);
    EXPECT_DOUBLE_EQ(CustomScroller::knobProportion(0, 300, 100), 0.25);
    for (const auto& [value, top] : {std::pair{0, 0}, {300, 150}, {150, 75}})
        EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 300, 100, value), QRectF(0, top, 15, 50)) << value;
    // A long list keeps a grabbable knob.
    EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 100000, 10, 0).height(), CustomScroller::kMinimumKnobLength);
    for (const auto& [top, value] : {std::pair{75, 150}, {-20, 0}, {500, 300}})
        EXPECT_EQ(CustomScroller::valueForKnobTop(top, slot, 50, 0, 300), value) << top;
}

TEST_F(ScrollersAndHeaders, RulerShowsOnlyForAListPastItsVisibleArea)
{
    const std::tuple<int, int, bool> cases[] = {{0, 0, false}, {0, 500, false}, {5, 275, false},
                                                {6, 300, false}, {6, 301, true},  {30, 1650, true}};
    for (const auto& [rows, lastRowBottom, expanded] : cases)
        EXPECT_EQ(CustomScroller::isExpandedOverView(rows, lastRowBottom, 300), expanded) << rows << " rows ending at " << lastRowBottom;
}

TEST_F(ScrollersAndHeaders, HiddenRulerDrawsNoKnobAndIgnoresAPressOnItsPlace)
{
    for (const bool effect : {false, true}) {
        CustomScroller scroller;
        scroller.setIsEffectManagerRuler(effect);
        setUp(scroller);
        const QImage hidden = scroller.grab().toImage();
        const QColor slotColour = NamedImages::image(QStringLiteral("knob_background")).pixelColor(7, 4);
        EXPECT_EQ(hidden.pixelColor(7, 40).rgb(), slotColour.rgb());
        press(scroller, QPoint(7, 40));
        EXPECT_FALSE(scroller.isSliderDown());
        scroller.setRulerVisible(true);
        const QImage shown = scroller.grab().toImage();
        const QColor knobColour = NamedImages::image(CustomScroller::knobMiddleImageName(effect)).pixelColor(5, 2);
        EXPECT_EQ(shown.pixelColor(7, 40).rgb(), knobColour.rgb()) << effect;
        // Once chosen, the knob's pictures stay.
        scroller.setIsEffectManagerRuler(!effect);
        EXPECT_EQ(scroller.grab().toImage().pixelColor(7, 40).rgb(), knobColour.rgb());
        press(scroller, QPoint(7, 40));
        EXPECT_TRUE(scroller.isSliderDown());
        press(scroller, QPoint(7, 115), QEvent::MouseMove);
        EXPECT_EQ(scroller.value(), 150);
        press(scroller, QPoint(7, 115), QEvent::MouseButtonRelease);
        EXPECT_FALSE(scroller.isSliderDown());
    }
}

TEST_F(ScrollersAndHeaders, ArrowsStepAndTheSlotPages)
{
    CustomScroller scroller;
    setUp(scroller);
    scroller.setSingleStep(10);
    scroller.setRulerVisible(true);
    for (const auto& [at, value] : {std::pair{195, 10}, {5, 0}, {150, 100}}) {
        press(scroller, QPoint(7, at));
        EXPECT_EQ(scroller.value(), value) << at;
    }
    EXPECT_EQ(scroller.bottomArrowRect(), QRectF(0, 185, 15, 15));
}

TEST_F(ScrollersAndHeaders, ScrollerWithoutBackgroundLeavesTheSlotUnpainted)
{
    for (const Qt::Orientation orientation : {Qt::Vertical, Qt::Horizontal}) {
        SCOPED_TRACE(orientation);
        NoBackgroundScroller scroller(orientation);
        const bool upright = orientation == Qt::Vertical;
        setUp(scroller, upright ? QSize(15, 200) : QSize(200, 15));
        const auto drawn = [&scroller] {
            QImage image(scroller.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            scroller.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            return image;
        };
        const auto at = [upright](int along) { return upright ? QPoint(7, along) : QPoint(along, 7); };
        QImage image = drawn();
        // At the start the knob is painted; far past it, in the middle of the slot, nothing is.
        QStyleOptionSlider option;
        option.initFrom(&scroller);
        option.orientation = orientation;
        option.maximum = 300;
        option.pageStep = 100;
        const QRect slider =
            scroller.style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &scroller);
        ASSERT_TRUE(slider.isValid());
        EXPECT_GT(image.pixelColor(slider.center()).alpha(), 0);
        EXPECT_EQ(image.pixelColor(at(150)).alpha(), 0);
        // Moved to the end, the knob leaves the start unpainted and paints the end's slot place.
        scroller.setValue(300);
        image = drawn();
        EXPECT_EQ(image.pixelColor(slider.center()).alpha(), 0);
        const int end = upright ? scroller.height() - slider.center().y() : scroller.width() - slider.center().x();
        EXPECT_GT(image.pixelColor(at(end)).alpha(), 0);
        scroller.triggerAction(QAbstractSlider::SliderPageStepSub);
        EXPECT_EQ(scroller.value(), 200);
    }
}

TEST_F(ScrollersAndHeaders, HeaderPicturesFollowTheListAndTheSortState)
{
    const std::pair<std::int64_t, const char*> headers[] = {{0, "effect_pool_header"}, {1, "effect_list_header"},
                                                            {2, "patch_pool_header"},  {3, "patch_list_header"},
                                                            {-1, "patch_list_header"}, {99, "patch_list_header"}};
    for (const auto& [type, image] : headers) {
        CustomHeaderCell cell;
        cell.setHeaderType(type);
        EXPECT_EQ(cell.backgroundImageName(), image) << type;
        EXPECT_FALSE(NamedImages::image(cell.backgroundImageName()).isNull());
    }
    const std::pair<std::int64_t, std::optional<QString>> sorts[] = {{0, std::nullopt},
                                                                     {1, QStringLiteral("sort_indicator_ascending")},
                                                                     {2, QStringLiteral("sort_indicator_descending")},
                                                                     {-3, QStringLiteral("sort_indicator_descending")}};
    for (const auto& [state, image] : sorts) {
        CustomHeaderCell cell;
        cell.setSortState(state);
        EXPECT_EQ(cell.sortIndicatorImageName(), image) << state;
    }
}

TEST_F(ScrollersAndHeaders, SeparatorsOnlyBetweenTitledColumns)
{
    const QRectF frame(100, 0, 120, 25);
    const std::tuple<bool, bool, bool, QVector<QRectF>> cases[] = {
        {false, true, true, {}},
        {true, false, true, {}},
        {true, true, false, {QRectF(100, 0, 2, 25)}},
        {true, true, true, {QRectF(100, 0, 2, 25), QRectF(212, 0, 2, 25)}},
    };
    for (const auto& [hasTitle, notFirst, lastEffect, separators] : cases) {
        CustomHeaderCell cell;
        cell.setIsNotFirstCell(notFirst);
        cell.setIsLastEffectCell(lastEffect);
        EXPECT_EQ(cell.separatorFrames(frame, hasTitle), separators) << hasTitle << notFirst << lastEffect;
    }
}

TEST_F(ScrollersAndHeaders, TitleIsCentredAndTheIndicatorOnlyShowsWhenConnectedAndItFits)
{
    const QRectF frame(100, 0, 120, 25);
    CustomHeaderCell cell;
    EXPECT_EQ(cell.titleRect(frame, QSizeF(40, 15)), QRectF(140, 5, 40, 15));
    cell.setIsLastEffectCell(true);
    EXPECT_EQ(cell.titleRect(frame, QSizeF(40, 15)), QRectF(138, 5, 40, 15));
    cell.setSortState(1);
    // A third of 25 is 8: 16 wide, 8 high, one point after the title's end.
    EXPECT_EQ(cell.sortIndicatorRect(frame, 40, true), QRectF(181, 8.5, 16, 8));
    EXPECT_EQ(cell.sortIndicatorRect(frame, 40, false), std::nullopt);
    // A title 86 wide ends at 203: the indicator would end on the edge at 220 and is left out.
    EXPECT_EQ(cell.sortIndicatorRect(frame, 86, true), std::nullopt);
    EXPECT_EQ(cell.sortIndicatorRect(frame, 84, true), QRectF(203, 8.5, 16, 8));
    cell.setSortState(0);
    EXPECT_EQ(cell.sortIndicatorRect(frame, 40, true), std::nullopt);
    EXPECT_EQ(CustomHeaderCell::checkWidthForTextRect(QRectF(30, 0, 100, 20), QRectF(0, 0, 120, 25)), QRectF(30, 0, 90, 20));
    EXPECT_EQ(CustomHeaderCell::checkWidthForTextRect(QRectF(30, 0, 50, 20), QRectF(0, 0, 120, 25)), QRectF(30, 0, 50, 20));
    EXPECT_EQ(CustomHeaderCell::measureTitle(QString(), QFont(), QSizeF(120, 25)), QSizeF(0, 0));
}

TEST_F(ScrollersAndHeaders, HeaderViewPaintsEachSectionWithItsCell)
{
    QStandardItemModel model(0, 2);
    model.setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Comment")});
    CustomHeaderView header;
    header.setModel(&model);
    header.resize(400, 25);
    header.setFixedHeight(25);
    header.resizeSection(0, 200);
    header.resizeSection(1, 200);
    header.headerCell(1).setIsNotFirstCell(true);
    header.headerCell(0).setSortState(2);
    const QRectF frame(0, 0, 200, 25);
    const qreal titleWidth = CustomHeaderCell::measureTitle(QStringLiteral("Name"), header.font(), frame.size()).width();
    const QRectF indicator = *header.headerCell(0).sortIndicatorRect(frame, titleWidth, true);
    const QPoint indicatorMiddle(static_cast<int>(indicator.center().x()), static_cast<int>(indicator.y() + 1));
    const QImage unplugged = header.grab().toImage();
    AppDelegate::getInstance().setDeviceConnected(true);
    const QImage plugged = header.grab().toImage();
    EXPECT_NE(plugged.pixelColor(indicatorMiddle), unplugged.pixelColor(indicatorMiddle));
    EXPECT_EQ(plugged.pixelColor(200, 12).rgb(), NamedImages::image(QStringLiteral("cell_separator")).pixelColor(0, 12).rgb());
    EXPECT_NE(plugged.pixelColor(0, 12).rgb(), NamedImages::image(QStringLiteral("cell_separator")).pixelColor(0, 12).rgb());
}

TEST_F(ScrollersAndHeaders, ThreePartPiecesKeepTheirCapsUnlessTheyDoNotFit)
{
    const auto vertical = ThreePartImage::verticalPieces(QRectF(0, 10, 11, 40), 6, 6);
    EXPECT_EQ(std::vector(vertical.begin(), vertical.end()), (std::vector{QRectF(0, 10, 11, 6), QRectF(0, 16, 11, 28), QRectF(0, 44, 11, 6)}));
    const auto squeezed = ThreePartImage::horizontalPieces(QRectF(5, 0, 8, 24), 6, 6);
    EXPECT_EQ(std::vector(squeezed.begin(), squeezed.end()), (std::vector{QRectF(5, 0, 4, 24), QRectF(9, 0, 0, 24), QRectF(9, 0, 4, 24)}));
}

using Cell = CustomCellForAttributedString;

using PoolRowCell = ScrollersAndHeaders;

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
    EXPECT_TRUE(painted.hasColourIn(QRect(15, 0, split - 2, 24), QColor(153, 153, 153)) &&
                !painted.hasColourIn(QRect(15, 0, split - 2, 24), QColor(227, 227, 0)));
    EXPECT_TRUE(painted.hasColourIn(QRect(15 + split, 0, 100, 24), QColor(227, 227, 0)));
    content.isEffectPoolCell = false;
    const QColor patchSelection = NamedImages::image(Cell::selectionImageName(false, 1)).pixelColor(6, 12);
    EXPECT_EQ(painted.paint(content, true).pixelColor(280, 12).rgb(), patchSelection.rgb());
    EXPECT_EQ(painted.paint(content, false).pixelColor(280, 12).alpha(), 0);
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
    EXPECT_TRUE(name.startsWith(shown.chopped(1)) && metrics.horizontalAdvance(shown) <= oneLine.width());
    // Room for every line: the title as it is.
    EXPECT_EQ(Cell::fittedTitle(name, font, QSizeF(oneLine.width(), metrics.height() * 4)), name);
    EXPECT_EQ(Cell::fittedTitle(QStringLiteral("Live Set"), font, oneLine), QStringLiteral("Live Set"));
    // Two lines of room: the first stays whole, the second is cut.
    const QString two = Cell::fittedTitle(name, font, QSizeF(oneLine.width(), metrics.height() * 2 + 2));
    EXPECT_TRUE(two.endsWith(QChar(0x2026)) && two.size() > shown.size()) << two.toStdString();
}

}  // namespace
