#include "app/effect/EffectNameTableCellView.h"

#include <QFont>
#include <QPainter>

#include <cmath>

#include "app/effect/EffectIconConversion.h"
#include "app/views/InterfaceTexts.h"
#include "library/models/EffectItem.h"

namespace {

constexpr int kMargin = 10;
constexpr int kButtonWidth = 76;
constexpr int kButtonHeight = 26;

}  // namespace

void EffectNameTableCellView::clearCellView()
{
    recoveryActionBlock_ = {};
    effectName_.clear();
    effectIcon_ = QImage();
    isDeletedCell_ = false;
    iconEnabled_ = true;
    effectIconHeigthContraint_ = kIconHeight;
    effectIconWidthContraint_ = kIconMaxWidth;
}

float EffectNameTableCellView::widthForIcon(float width, float height, float heightConstant)
{
    const float ratio = height > 0.0f ? width / height : 0.0f;
    if (ratio > 0.0f && ratio < 1.0f) {
        const float w = heightConstant * ratio;
        return w >= 0.0f && w < kIconMaxWidth ? w : kIconMaxWidth;
    }
    return kIconMaxWidth;
}

void EffectNameTableCellView::setImageAndConstraintForEffectItem(const EffectItem& item)
{
    const auto& icon = item.effectDisplayedIcon;
    const float width = icon ? static_cast<float>(icon->width()) : 0.0f;
    const float height = icon ? static_cast<float>(icon->height()) : 0.0f;
    effectIconWidthContraint_ = widthForIcon(width, height, effectIconHeigthContraint_);
    effectIcon_ = icon ? EffectIconConversion::imageFromBitmap(*icon) : QImage();
}

void EffectNameTableCellView::didClickOnRecoveryButton()
{
    if (recoveryActionBlock_) recoveryActionBlock_();
}

QRect EffectNameTableCellView::iconRect(const QRect& rect) const
{
    const int width = static_cast<int>(std::lround(effectIconWidthContraint_));
    const int height = static_cast<int>(std::lround(effectIconHeigthContraint_));
    return {rect.x() + kMargin + (static_cast<int>(kIconMaxWidth) - width) / 2, rect.y() + (rect.height() - height) / 2,
            width, height};
}

QRect EffectNameTableCellView::recoveryButtonRect(const QRect& rect)
{
    return {rect.right() - kMargin - kButtonWidth + 1, rect.y() + (rect.height() - kButtonHeight) / 2, kButtonWidth,
            kButtonHeight};
}

void EffectNameTableCellView::paint(QPainter& painter, const QRect& rect) const
{
    painter.save();
    if (backgroundColor_.isValid()) painter.fillRect(rect, backgroundColor_);
    if (!effectIcon_.isNull()) {
        // A deleted effect's icon does not react, and looks it.
        if (!iconEnabled_) painter.setOpacity(0.45);
        painter.drawImage(iconRect(rect), effectIcon_);
        painter.setOpacity(1.0);
    }
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setBold(true);
    font.setPixelSize(19);
    painter.setFont(font);
    painter.setPen(Qt::white);
    QRect textRect = rect.adjusted(kMargin * 2 + static_cast<int>(kIconMaxWidth), 0, -kMargin, 0);
    if (isDeletedCell_) textRect.setRight(recoveryButtonRect(rect).left() - kMargin);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(effectName_, Qt::ElideRight, textRect.width()));
    if (isDeletedCell_) {
        const QRect button = recoveryButtonRect(rect);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor(19, 153, 228));
        painter.drawRoundedRect(QRectF(button).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        QFont small(QStringLiteral("Helvetica Neue"));
        small.setPixelSize(12);
        painter.setFont(small);
        painter.drawText(button, Qt::AlignCenter, InterfaceTexts::localizedString("Effect_Recover"));
    }
    painter.restore();
}
