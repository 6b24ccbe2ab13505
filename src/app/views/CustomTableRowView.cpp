#include "app/views/CustomTableRowView.h"

#include <QHash>
#include <QPainter>

#include <algorithm>
#include <utility>

#include "app/views/NamedImages.h"

namespace {

bool opaquePicture(const QString& name)
{
    static QHash<QString, bool> opaque;
    if (const auto known = opaque.constFind(name); known != opaque.constEnd()) return *known;
    const QImage picture = NamedImages::image(name);
    bool covers = !picture.isNull();
    for (int y = 0; covers && y < picture.height(); ++y)
        for (int x = 0; covers && x < picture.width(); ++x) covers = picture.pixelColor(x, y).alpha() == 255;
    return *opaque.insert(name, covers);
}

// Every row of a list is the same size, so a list paints the same two stretched pieces over and over;
// stretching them anew for each row made the rows most of a window's first paint. Each piece is stretched
// once per size, as the painter would have stretched it, and copied from then on. Main thread only, as
// all painting is; a resize brings new sizes, so the oldest are dropped past a few.
QImage stretchedPiece(const QString& name, const QSize& size)
{
    using Key = std::pair<QString, qint64>;
    static QHash<Key, QImage> stretched;
    constexpr qsizetype kKeptPieces = 16;
    const Key key{name, (qint64(size.width()) << 32) | qint64(size.height())};
    if (const auto kept = stretched.constFind(key); kept != stretched.constEnd()) return *kept;
    const QImage piece = NamedImages::image(name);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.drawImage(image.rect(), piece);
    }
    // An opaque piece copies without blending.
    if (opaquePicture(name)) image.convertTo(QImage::Format_RGB32);
    if (stretched.size() >= kKeptPieces) stretched.clear();
    return *stretched.insert(key, image);
}

void drawPiece(QPainter& painter, const QRect& frame, const QString& name)
{
    if (frame.isEmpty()) return;
    painter.drawImage(frame.topLeft(), stretchedPiece(name, frame.size()));
}

}  // namespace

void CustomTableRowView::clearView()
{
    row_ = 0;
    isEffectRow_ = false;
    isEmptyRow_ = false;
}

QString CustomTableRowView::leftImageName() const
{
    return isDarkRow() ? QStringLiteral("row_dark_color_left") : QStringLiteral("row_light_color_left");
}

QString CustomTableRowView::rightImageName() const
{
    return isDarkRow() ? QStringLiteral("row_dark_color_right") : QStringLiteral("row_light_color_right");
}

QColor CustomTableRowView::selectionColor() const
{
    return isEffectRow_ ? QColor::fromRgbF(19 / 255.0f, 153 / 255.0f, 228 / 255.0f)
                        : QColor::fromRgbF(245 / 255.0f, 147 / 255.0f, 30.9f / 255.0f);
}

QRect CustomTableRowView::leftPieceFrame(const QRect& rect)
{
    return {rect.x(), rect.y(), std::max(0, rect.width() - kCapWidth), rect.height()};
}

QRect CustomTableRowView::rightPieceFrame(const QRect& rect)
{
    return {rect.x() + rect.width() - kCapWidth, rect.y(), kCapWidth, rect.height()};
}

bool CustomTableRowView::coversRect() const
{
    return opaquePicture(leftImageName()) && opaquePicture(rightImageName());
}

void CustomTableRowView::drawRect(QPainter& painter, const QRect& rect, bool selected) const
{
    // Each image is stretched to its piece, both axes on their own.
    drawPiece(painter, leftPieceFrame(rect), leftImageName());
    drawPiece(painter, rightPieceFrame(rect), rightImageName());
    if (selected) drawSelectionInRect(painter, rect);
}

void CustomTableRowView::drawSelectionInRect(QPainter& painter, const QRect& rect) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(selectionColor(), kSelectionBorderWidth));
    painter.setBrush(Qt::NoBrush);
    // The border lies inside the frame, as a layer border does.
    const qreal inset = kSelectionBorderWidth / 2;
    painter.drawRoundedRect(QRectF(leftPieceFrame(rect)).adjusted(inset, inset, -inset, -inset),
                            kSelectionCornerRadius, kSelectionCornerRadius);
    painter.restore();
}
