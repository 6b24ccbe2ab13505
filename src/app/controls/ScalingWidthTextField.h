#pragma once

#include <QLabel>
#include <QRectF>

#include <optional>

// A text whose preferred size is that of its wrapped lines at its own width, so that a layout gives it
// the height its text needs.
class ScalingWidthTextField : public QLabel {
    Q_OBJECT
public:
    explicit ScalingWidthTextField(const QString& text = QString(), QWidget* parent = nullptr);

    // The box the text is wrapped into: the width less 4 points, unbounded height; only for a wrapping
    // text more than a point high.
    static std::optional<QRectF> wrappingBounds(bool wraps, const QSizeF& frame);

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
};
