#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionSlider>

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
    const QRectF top = CustomScroller::topArrowRectIn(slot);
    const QRectF bottom = CustomScroller::bottomArrowRectIn(slot);
    EXPECT_EQ(top, QRectF(0, 0, 15, 15));
    EXPECT_EQ(bottom, QRectF(0, 185, 15, 15));
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
    EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 300, 100, 0), QRectF(0, 0, 15, 50));
    EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 300, 100, 300), QRectF(0, 150, 15, 50));
    EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 300, 100, 150), QRectF(0, 75, 15, 50));
    // A long list keeps a grabbable knob.
    EXPECT_EQ(CustomScroller::standardKnobRect(slot, 0, 100000, 10, 0).height(), CustomScroller::kMinimumKnobLength);
    EXPECT_EQ(CustomScroller::valueForKnobTop(75, slot, 50, 0, 300), 150);
    EXPECT_EQ(CustomScroller::valueForKnobTop(-20, slot, 50, 0, 300), 0);
    EXPECT_EQ(CustomScroller::valueForKnobTop(500, slot, 50, 0, 300), 300);
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
    press(scroller, QPoint(7, 195));
    EXPECT_EQ(scroller.value(), 10);
    press(scroller, QPoint(7, 5));
    EXPECT_EQ(scroller.value(), 0);
    press(scroller, QPoint(7, 150));
    EXPECT_EQ(scroller.value(), 100);
    EXPECT_EQ(scroller.bottomArrowRect(), QRectF(0, 185, 15, 15));
}

// The slot-less scroller draws the standard knob and arrows and leaves its slot to what lies behind it,
// upright or sideways, and scrolls as a standard one.
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
        option.minimum = 0;
        option.maximum = 300;
        option.pageStep = 100;
        option.sliderPosition = option.sliderValue = 0;
        const QRect slider =
            scroller.style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &scroller);
        ASSERT_TRUE(slider.isValid());
        EXPECT_GT(image.pixelColor(slider.center()).alpha(), 0);
        EXPECT_EQ(image.pixelColor(at(150)).alpha(), 0);
        // Moved to the end, the knob leaves the start unpainted and paints the end's slot place.
        scroller.setValue(300);
        image = drawn();
        EXPECT_EQ(image.pixelColor(slider.center()).alpha(), 0);
        EXPECT_GT(image.pixelColor(at(upright ? scroller.height() - slider.center().y()
                                              : scroller.width() - slider.center().x()))
                      .alpha(),
                  0);
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

}  // namespace
