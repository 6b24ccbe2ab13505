#include "app/views/NamedImages.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>

#include "app/views/InterfaceTexts.h"

namespace {

const QColor kAccentBlue(0, 186, 241);
const QColor kDeepBlue(5, 96, 159);
const QColor kPatchPoolSelection(80, 38, 0);
const QColor kEffectPoolSelection(0, 40, 80);
const QColor kSelectionOrange(245, 147, 31);
const QColor kWarningOutline(0, 0, 0);

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage rowPiece(int width, QColor top, QColor bottom, bool cap)
{
    QImage image = canvas(width, 24);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 0, 24);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    painter.fillRect(image.rect(), fill);
    // The cap closes the row with a darker edge, so rows read as strips with a rounded-off end.
    if (cap) painter.fillRect(QRect(width - 1, 0, 1, 24), bottom.darker(140));
    return image;
}

QImage selectionFrame(QColor colour)
{
    QImage image = canvas(64, 24);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 3));
    painter.drawRoundedRect(QRectF(image.rect()).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
    return image;
}

QImage warningIcon()
{
    QImage image = canvas(16, 16);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(8, 2.5);
    triangle.lineTo(14.2, 14);
    triangle.lineTo(1.8, 14);
    triangle.closeSubpath();
    // An outline of its own, as the orange sign alone all but vanishes on the orange and light banks'
    // rows: the sign reads against the outline whatever the row's colour. A black one, as the darker
    // purple rows leave even a near-black outline under 3:1.
    painter.setPen(QPen(kWarningOutline, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(triangle);
    painter.fillPath(triangle, kSelectionOrange);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 6.5), QPointF(8, 9.5));
    painter.drawPoint(QPointF(8, 12));
    return image;
}

// Frame `step` of the working animation: an arc with an arrow head, turned by 20 degrees a frame.
QImage animationFrame(int step)
{
    QImage image = canvas(48, 48);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(24, 24);
    painter.rotate(20.0 * step);
    painter.setPen(QPen(kDeepBlue, 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(QPointF(0, 0), 17, 17);
    painter.setPen(QPen(kAccentBlue, 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(-17, -17, 34, 34), 0, 270 * 16);
    QPainterPath head;
    head.moveTo(17 - 6, 1);
    head.lineTo(17 + 6, 1);
    head.lineTo(17, 9);
    head.closeSubpath();
    painter.fillPath(head, kAccentBlue);
    return image;
}

QImage splash()
{
    QImage image = canvas(560, 320);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 320);
    fill.setColorAt(0, QColor(28, 33, 40));
    fill.setColorAt(1, QColor(12, 14, 18));
    painter.fillRect(image.rect(), fill);
    painter.fillRect(QRect(0, 250, 560, 4), kAccentBlue);
    painter.drawImage(QPoint(60, 96), animationFrame(0).scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    QFont font = painter.font();
    font.setPixelSize(44);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(180, 96, 360, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("PEXO Rigmora"));
    font.setPixelSize(18);
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(QColor(160, 170, 180));
    painter.drawText(QRect(182, 152, 360, 30), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Patch and effect librarian"));
    return image;
}

using Painter = std::function<QImage()>;

QImage banIcon()
{
    QImage image = canvas(18, 18);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(220, 60, 50), 2.5));
    painter.drawEllipse(QRectF(2, 2, 14, 14));
    painter.drawLine(QPointF(4.5, 13.5), QPointF(13.5, 4.5));
    return image;
}

// A screen tab: a rounded plate with its name, lit when its screen shows.
QImage tabIcon(const QString& title, bool focused)
{
    QImage image = canvas(150, 34);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(focused ? kDeepBlue : QColor(42, 46, 51));
    painter.setPen(QPen(focused ? kAccentBlue : QColor(70, 75, 82), 1.5));
    painter.drawRoundedRect(QRectF(image.rect()).adjusted(1, 1, -1, -1), 8, 8);
    painter.setPen(focused ? Qt::white : QColor(160, 165, 172));
    QFont font = painter.font();
    font.setPixelSize(15);
    font.setBold(focused);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, title);
    return image;
}

// The footer strip under a screen, in the screen's colour.
QImage footer(QColor colour)
{
    QImage image = canvas(400, 6);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 400, 0);
    fill.setColorAt(0, colour);
    fill.setColorAt(1, colour.darker(220));
    painter.fillRect(image.rect(), fill);
    return image;
}

// What hangs below the pointer while pool effects are dragged: a small effect card.
QImage dragCard()
{
    QImage image = canvas(36, 26);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(kAccentBlue);
    painter.drawRoundedRect(QRectF(image.rect()).adjusted(1, 1, -1, -1), 5, 5);
    painter.fillRect(QRectF(7, 9, 22, 2.5), Qt::white);
    painter.fillRect(QRectF(7, 14.5, 15, 2.5), Qt::white);
    return image;
}

// The drawn scrollers' and headers' pieces.

// A rounded bar of `colour` on a transparent canvas, for cutting into three pieces.
QImage roundedBar(QSize size, QMarginsF inset, qreal radius, QColor colour)
{
    QImage bar = canvas(size.width(), size.height());
    QPainter painter(&bar);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(bar.rect()).marginsRemoved(inset), radius, radius);
    return bar;
}

// Piece `part` (0 start cap, 1 fill, 2 end cap) of `whole`, cut along its height or its width with caps
// `capLength` long, so that the pieces join seamlessly however the fill is stretched.
QImage threePieceCut(const QImage& whole, bool vertical, int capLength, int part)
{
    const int length = vertical ? whole.height() : whole.width();
    const int start = part == 0 ? 0 : part == 1 ? capLength : length - capLength;
    const int span = part == 1 ? length - 2 * capLength : capLength;
    return vertical ? whole.copy(0, start, whole.width(), span) : whole.copy(start, 0, span, whole.height());
}

QImage knobPiece(int part, QColor colour)
{
    return threePieceCut(roundedBar(QSize(11, 16), QMarginsF(1, 0.5, 1, 0.5), 4.5, colour), true, 6, part);
}

QImage knobSlot()
{
    QImage image = canvas(15, 8);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(24, 27, 31));
    painter.fillRect(QRect(0, 0, 1, 8), QColor(14, 16, 19));
    return image;
}

QImage scrollArrow(bool up)
{
    QImage image = canvas(15, 15);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(image.rect(), QColor(24, 27, 31));
    QPainterPath head;
    head.moveTo(7.5, up ? 4.5 : 10.5);
    head.lineTo(11.5, up ? 10 : 5);
    head.lineTo(3.5, up ? 10 : 5);
    head.closeSubpath();
    painter.fillPath(head, QColor(150, 156, 164));
    return image;
}

// The arrows beside the Backup All / Restore All button: backing up runs from the device list on the
// left to the pool on the right, restoring the other way.
QImage transferArrow(bool towardsRight, QColor colour)
{
    QImage image = canvas(30, 20);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    const auto x = [towardsRight](qreal at) { return towardsRight ? at : 30 - at; };
    arrow.moveTo(x(2), 7);
    arrow.lineTo(x(17), 7);
    arrow.lineTo(x(17), 2);
    arrow.lineTo(x(28), 10);
    arrow.lineTo(x(17), 18);
    arrow.lineTo(x(17), 13);
    arrow.lineTo(x(2), 13);
    arrow.closeSubpath();
    painter.fillPath(arrow, colour);
    return image;
}

// A column header strip: light, so that the dark grey titles read on it, tinted by the list's screen.
QImage headerStrip(QColor tint)
{
    QImage image = canvas(64, 25);
    QPainter painter(&image);
    QLinearGradient fill(0, 0, 0, 25);
    fill.setColorAt(0, QColor(236, 238, 240));
    fill.setColorAt(1, QColor(206, 209, 213));
    painter.fillRect(image.rect(), fill);
    painter.fillRect(QRect(0, 23, 64, 2), tint);
    return image;
}

QImage cellSeparator()
{
    QImage image = canvas(2, 25);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 3, 1, 19), QColor(160, 164, 170));
    painter.fillRect(QRect(1, 3, 1, 19), QColor(250, 250, 250));
    return image;
}

QImage sortIndicator(bool ascending)
{
    QImage image = canvas(10, 5);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath head;
    head.moveTo(5, ascending ? 0 : 5);
    head.lineTo(10, ascending ? 5 : 0);
    head.lineTo(0, ascending ? 5 : 0);
    head.closeSubpath();
    painter.fillPath(head, QColor(70, 70, 72));
    return image;
}

// A pool row's selection background: a rounded strip in three pieces.
// A pool's selection bar: a dark fill the pools' grey titles read on at 4.5:1 and more, edged in the
// pool's colour so that the bar stands out from the pool's own dark background.
QImage poolSelectionPiece(int part, QColor fill, QColor edge)
{
    QImage bar = canvas(24, 24);
    QPainter painter(&bar);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(edge, 2));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(bar.rect()).marginsRemoved(QMarginsF(1.5, 2, 1.5, 2)), 5, 5);
    painter.end();
    return threePieceCut(bar, false, 6, part);
}

const QHash<QString, Painter>& painters()
{
    static const QHash<QString, Painter> table = [] {
        QHash<QString, Painter> all{
            {QStringLiteral("splash"), splash},
            {QStringLiteral("warning-icon"), warningIcon},
            {QStringLiteral("row_light_color_left"), [] { return rowPiece(64, QColor(56, 61, 68), QColor(50, 54, 60), false); }},
            {QStringLiteral("row_light_color_right"), [] { return rowPiece(5, QColor(56, 61, 68), QColor(50, 54, 60), true); }},
            {QStringLiteral("row_dark_color_left"), [] { return rowPiece(64, QColor(42, 46, 51), QColor(37, 40, 45), false); }},
            {QStringLiteral("row_dark_color_right"), [] { return rowPiece(5, QColor(42, 46, 51), QColor(37, 40, 45), true); }},
            {QStringLiteral("effect_list_selection"), [] { return selectionFrame(QColor(19, 153, 228)); }},
            {QStringLiteral("patch_list_selection"), [] { return selectionFrame(kSelectionOrange); }},
            {QStringLiteral("mouse"), dragCard},
            {QStringLiteral("ban-icon"), banIcon},
            {QStringLiteral("effect_focused_state_icon"), [] { return tabIcon(InterfaceTexts::localizedString("Main_EffectsTab"), true); }},
            {QStringLiteral("effect_default_state_icon"), [] { return tabIcon(InterfaceTexts::localizedString("Main_EffectsTab"), false); }},
            {QStringLiteral("patch_focused_state_icon"), [] { return tabIcon(InterfaceTexts::localizedString("Main_PatchesTab"), true); }},
            {QStringLiteral("patch_default_state_icon"), [] { return tabIcon(InterfaceTexts::localizedString("Main_PatchesTab"), false); }},
            {QStringLiteral("effect_footer"), [] { return footer(kAccentBlue); }},
            {QStringLiteral("patch_footer"), [] { return footer(kSelectionOrange); }},
            {QStringLiteral("knob_background"), knobSlot},
            {QStringLiteral("up_arrow"), [] { return scrollArrow(true); }},
            {QStringLiteral("down_arrow"), [] { return scrollArrow(false); }},
            {QStringLiteral("effect_knob_top"), [] { return knobPiece(0, kAccentBlue); }},
            {QStringLiteral("effect_knob_middle"), [] { return knobPiece(1, kAccentBlue); }},
            {QStringLiteral("effect_knob_bottom"), [] { return knobPiece(2, kAccentBlue); }},
            {QStringLiteral("patch_top_ruler"), [] { return knobPiece(0, kSelectionOrange); }},
            {QStringLiteral("patch_middle_ruler"), [] { return knobPiece(1, kSelectionOrange); }},
            {QStringLiteral("patch_bottom_ruler"), [] { return knobPiece(2, kSelectionOrange); }},
            {QStringLiteral("effect_pool_header"), [] { return headerStrip(kDeepBlue); }},
            {QStringLiteral("effect_list_header"), [] { return headerStrip(kAccentBlue); }},
            {QStringLiteral("patch_pool_header"), [] { return headerStrip(kSelectionOrange.darker(130)); }},
            {QStringLiteral("patch_list_header"), [] { return headerStrip(kSelectionOrange); }},
            {QStringLiteral("cell_separator"), cellSeparator},
            {QStringLiteral("sort_indicator_ascending"), [] { return sortIndicator(true); }},
            {QStringLiteral("sort_indicator_descending"), [] { return sortIndicator(false); }},
            {QStringLiteral("patch_pool_focused_selection_top"), [] { return poolSelectionPiece(0, kPatchPoolSelection, kSelectionOrange); }},
            {QStringLiteral("patch_pool_focused_selection_mid"), [] { return poolSelectionPiece(1, kPatchPoolSelection, kSelectionOrange); }},
            {QStringLiteral("patch_pool_focused_selection_bottom"), [] { return poolSelectionPiece(2, kPatchPoolSelection, kSelectionOrange); }},
            {QStringLiteral("effect_pool_focused_selection_top"), [] { return poolSelectionPiece(0, kEffectPoolSelection, kAccentBlue); }},
            {QStringLiteral("effect_pool_focused_selection_mid"), [] { return poolSelectionPiece(1, kEffectPoolSelection, kAccentBlue); }},
            {QStringLiteral("effect_pool_focused_selection_bottom"), [] { return poolSelectionPiece(2, kEffectPoolSelection, kAccentBlue); }},
            {QStringLiteral("backup_left_arrow"), [] { return transferArrow(true, kSelectionOrange); }},
            {QStringLiteral("backup_right_arrow"), [] { return transferArrow(true, kSelectionOrange); }},
            {QStringLiteral("restore_left_arrow"), [] { return transferArrow(false, kAccentBlue); }},
            {QStringLiteral("restore_right_arrow"), [] { return transferArrow(false, kAccentBlue); }},
        };
        for (int step = 1; step <= 18; ++step) {
            all.insert(QStringLiteral("301Animation%1").arg(step, 2, 10, QLatin1Char('0')),
                       [step] { return animationFrame(step - 1); });
        }
        return all;
    }();
    return table;
}

}  // namespace

QImage NamedImages::image(const QString& name)
{
    // Interface code asks from the main thread only; a drawn picture is kept for the next asker.
    static QHash<QString, QImage> drawn;
    if (const auto kept = drawn.constFind(name); kept != drawn.constEnd()) return *kept;
    const auto painter = painters().constFind(name);
    if (painter == painters().constEnd()) return {};
    return *drawn.insert(name, (*painter)());
}

const QStringList& NamedImages::names()
{
    static const QStringList all = [] {
        QStringList keys = painters().keys();
        keys.sort();
        return keys;
    }();
    return all;
}
