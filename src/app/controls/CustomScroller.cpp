#include "app/controls/CustomScroller.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/controls/ThreePartImage.h"
#include "app/views/NamedImages.h"

CustomScroller::CustomScroller(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

void CustomScroller::setRulerVisible(bool visible)
{
    rulerVisible_ = visible;
    if (!visible) grabOffset_.reset();
    update();
}

QString CustomScroller::knobTopImageName(bool effectRuler)
{
    return effectRuler ? QStringLiteral("effect_knob_top") : QStringLiteral("patch_top_ruler");
}

QString CustomScroller::knobMiddleImageName(bool effectRuler)
{
    return effectRuler ? QStringLiteral("effect_knob_middle") : QStringLiteral("patch_middle_ruler");
}

QString CustomScroller::knobBottomImageName(bool effectRuler)
{
    return effectRuler ? QStringLiteral("effect_knob_bottom") : QStringLiteral("patch_bottom_ruler");
}

QRectF CustomScroller::topArrowRectIn(const QRectF& slot)
{
    return {slot.x(), slot.y(), slot.width(), slot.width()};
}

QRectF CustomScroller::bottomArrowRectIn(const QRectF& slot)
{
    return {slot.x(), slot.y() + slot.height() - slot.width(), slot.width(), slot.width()};
}

double CustomScroller::knobProportion(int minimum, int maximum, int pageStep)
{
    const double range = static_cast<double>(maximum) - minimum;
    if (range <= 0) return 1.0;
    return std::max(0, pageStep) / (range + std::max(0, pageStep));
}

QRectF CustomScroller::standardKnobRect(const QRectF& slot, int minimum, int maximum, int pageStep, int value)
{
    const double proportion = knobProportion(minimum, maximum, pageStep);
    const qreal length = std::min(slot.height(), std::max(kMinimumKnobLength, std::round(proportion * slot.height())));
    const double range = static_cast<double>(maximum) - minimum;
    const double position = range > 0 ? std::clamp((value - static_cast<double>(minimum)) / range, 0.0, 1.0) : 0.0;
    const qreal top = slot.y() + std::round(position * (slot.height() - length));
    return {slot.x(), top, slot.width(), length};
}

std::optional<QRectF> CustomScroller::knobRect(const QRectF& standardKnob, const QRectF& topArrow,
                                               const QRectF& bottomArrow, bool rulerVisible, double proportion)
{
    if (!rulerVisible || proportion >= 1.0) return std::nullopt;
    QRectF knob(standardKnob.x() + 1, standardKnob.y(), standardKnob.width() - 2, standardKnob.height());
    const qreal roomTop = topArrow.y() + topArrow.height();
    const qreal roomBottom = bottomArrow.y();
    if (knob.y() < roomTop) knob.translate(0, std::floor(roomTop - knob.y()));
    if (knob.y() + knob.height() > roomBottom) knob.translate(0, -std::floor(knob.y() + knob.height() - roomBottom));
    if (knob.y() < roomTop) {
        knob.setY(roomTop);
        knob.setHeight(roomBottom - roomTop);
    }
    return knob;
}

int CustomScroller::valueForKnobTop(qreal knobTop, const QRectF& slot, qreal knobLength, int minimum, int maximum)
{
    const qreal travel = slot.height() - knobLength;
    if (travel <= 0 || maximum <= minimum) return minimum;
    const double position = std::clamp((knobTop - slot.y()) / travel, 0.0, 1.0);
    return minimum + static_cast<int>(std::lround(position * (static_cast<double>(maximum) - minimum)));
}

bool CustomScroller::isExpandedOverView(int rowCount, int lastRowBottom, int visibleHeight)
{
    return rowCount > 0 && lastRowBottom > visibleHeight;
}

QRectF CustomScroller::slotRect() const { return QRectF(rect()); }

QRectF CustomScroller::currentStandardKnob() const
{
    return standardKnobRect(slotRect(), minimum(), maximum(), pageStep(), sliderPosition());
}

void CustomScroller::layoutArrows()
{
    topArrowRect_ = topArrowRectIn(slotRect());
    bottomArrowRect_ = bottomArrowRectIn(slotRect());
}

std::optional<QRectF> CustomScroller::drawnKnobRect() const
{
    const QRectF slot = slotRect();
    return knobRect(currentStandardKnob(), topArrowRectIn(slot), bottomArrowRectIn(slot), rulerVisible_,
                    knobProportion(minimum(), maximum(), pageStep()));
}

void CustomScroller::paintEvent(QPaintEvent*)
{
    if (!isInited_) {
        knobTopImage_ = knobTopImageName(isEffectManagerRuler_);
        knobMidImage_ = knobMiddleImageName(isEffectManagerRuler_);
        knobBottomImage_ = knobBottomImageName(isEffectManagerRuler_);
        isInited_ = true;
    }
    layoutArrows();
    QPainter painter(this);
    const QImage slot = NamedImages::image(QStringLiteral("knob_background"));
    ThreePartImage::drawVertical(painter, slotRect(), slot, slot, slot);
    painter.drawImage(topArrowRect_, NamedImages::image(QStringLiteral("up_arrow")));
    painter.drawImage(bottomArrowRect_, NamedImages::image(QStringLiteral("down_arrow")));
    if (const auto knob = drawnKnobRect()) {
        ThreePartImage::drawVertical(painter, *knob, NamedImages::image(knobTopImage_),
                                     NamedImages::image(knobMidImage_), NamedImages::image(knobBottomImage_));
    }
}

void CustomScroller::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    layoutArrows();
    const QPointF point = event->position();
    event->accept();
    if (topArrowRect_.contains(point)) {
        triggerAction(SliderSingleStepSub);
        return;
    }
    if (bottomArrowRect_.contains(point)) {
        triggerAction(SliderSingleStepAdd);
        return;
    }
    const auto knob = drawnKnobRect();
    if (!knob) {
        // Nothing to track while everything shows.
        event->ignore();
        return;
    }
    if (knob->contains(point)) {
        grabOffset_ = point.y() - currentStandardKnob().y();
        setSliderDown(true);
        return;
    }
    triggerAction(point.y() < knob->y() ? SliderPageStepSub : SliderPageStepAdd);
}

void CustomScroller::mouseMoveEvent(QMouseEvent* event)
{
    if (!grabOffset_) {
        event->ignore();
        return;
    }
    const QRectF standard = currentStandardKnob();
    setSliderPosition(
        valueForKnobTop(event->position().y() - *grabOffset_, slotRect(), standard.height(), minimum(), maximum()));
    event->accept();
}

void CustomScroller::mouseReleaseEvent(QMouseEvent* event)
{
    if (!grabOffset_) {
        event->ignore();
        return;
    }
    grabOffset_.reset();
    setSliderDown(false);
    event->accept();
}
