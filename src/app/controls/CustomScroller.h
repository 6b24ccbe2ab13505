#pragma once

#include <QRectF>
#include <QScrollBar>
#include <QString>

#include <optional>

// The vertical scroller of the lists of both screens, drawn wholly from named pictures: a slot, an up
// arrow at its top, a down arrow at its bottom and a three-part knob kept between the arrows. The knob
// shows, and can be dragged, only while the owner says its content overflows (`rulerVisible`); the
// owners set that whenever they scroll, expand or reload. The effect screen's lists set
// `isEffectManagerRuler` before the first paint, which picks the knob's pictures once.
class CustomScroller : public QScrollBar {
    Q_OBJECT
public:
    // The standard knob is never shorter than this, so that it stays grabbable on long lists.
    static constexpr qreal kMinimumKnobLength = 18.0;

    explicit CustomScroller(QWidget* parent = nullptr);

    bool isEffectManagerRuler() const { return isEffectManagerRuler_; }
    void setIsEffectManagerRuler(bool effect) { isEffectManagerRuler_ = effect; }
    bool rulerVisible() const { return rulerVisible_; }
    // Repaints at once: the owners call it after every change of their content.
    void setRulerVisible(bool visible);

    QRectF topArrowRect() const { return topArrowRect_; }
    QRectF bottomArrowRect() const { return bottomArrowRect_; }
    // The knob as drawn now; nothing while it is hidden.
    std::optional<QRectF> drawnKnobRect() const;

    // The knob's three pictures, top cap first.
    static QString knobTopImageName(bool effectRuler);
    static QString knobMiddleImageName(bool effectRuler);
    static QString knobBottomImageName(bool effectRuler);

    // Two squares as wide as the slot at its two ends.
    static QRectF topArrowRectIn(const QRectF& slot);
    static QRectF bottomArrowRectIn(const QRectF& slot);
    // The share of the content the visible part is, 1 when everything shows.
    static double knobProportion(int minimum, int maximum, int pageStep);
    // The standard knob over the whole slot: the proportion's length (at least the minimum), placed by
    // where the value lies in its range.
    static QRectF standardKnobRect(const QRectF& slot, int minimum, int maximum, int pageStep, int value);
    // The knob drawn from the standard one: one point narrower on each side and kept off the arrows; a
    // knob longer than the room between the arrows fills that room. Nothing while the ruler is hidden or
    // the content fits.
    static std::optional<QRectF> knobRect(const QRectF& standardKnob, const QRectF& topArrow, const QRectF& bottomArrow,
                                          bool rulerVisible, double proportion);
    // The value that puts the standard knob's top at `knobTop`.
    static int valueForKnobTop(qreal knobTop, const QRectF& slot, qreal knobLength, int minimum, int maximum);
    // Whether a list overflows its visible area: the last row's bottom edge lies beyond the visible
    // height. An empty list never does; a list that fits exactly does not.
    static bool isExpandedOverView(int rowCount, int lastRowBottom, int visibleHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF slotRect() const;
    QRectF currentStandardKnob() const;
    void layoutArrows();

    bool isInited_ = false;
    bool isEffectManagerRuler_ = false;
    bool rulerVisible_ = false;
    QString knobTopImage_;
    QString knobMidImage_;
    QString knobBottomImage_;
    QRectF topArrowRect_;
    QRectF bottomArrowRect_;
    // Where in the knob the drag took hold; set only while dragging.
    std::optional<qreal> grabOffset_;
};
