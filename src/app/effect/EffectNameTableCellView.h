#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

class EffectItem;
class QPainter;

// The name cell of the effect list ("EffectNameCell"): the effect's white icon, its name and, for an
// effect whose entry is not loaded, the recovery button. It holds no effect; the list's data source
// fills it for a row and sets its button's callback, and the same cell is reused for every row.
class EffectNameTableCellView {
public:
    static constexpr float kIconHeight = 30.0f;
    static constexpr float kIconMaxWidth = 50.0f;
    static constexpr const char* kIdentifier = "EffectNameCell";

    // Called before each reuse.
    void clearCellView();
    // Sizes the icon for the item's converted icon and shows it.
    void setImageAndConstraintForEffectItem(const EffectItem& item);
    // The icon's width for a picture of that size in a view of that height: a tall picture keeps its
    // proportions, anything else takes the whole width.
    static float widthForIcon(float width, float height, float heightConstant);
    void didClickOnRecoveryButton();

    void setRecoveryActionBlock(std::function<void()> block) { recoveryActionBlock_ = std::move(block); }
    bool isDeletedCell() const { return isDeletedCell_; }
    void setIsDeletedCell(bool deleted) { isDeletedCell_ = deleted; }
    void setEffectName(const QString& name) { effectName_ = name; }
    const QString& effectName() const { return effectName_; }
    void setIconEnabled(bool enabled) { iconEnabled_ = enabled; }
    bool iconEnabled() const { return iconEnabled_; }
    const QImage& effectIcon() const { return effectIcon_; }
    // The icon view's tag: the row the cell was last filled for.
    std::int64_t iconTag() const { return iconTag_; }
    void setIconTag(std::int64_t tag) { iconTag_ = tag; }
    float effectIconWidthContraint() const { return effectIconWidthContraint_; }
    float effectIconHeigthContraint() const { return effectIconHeigthContraint_; }
    void setBackgroundColor(const QColor& color) { backgroundColor_ = color; }

    // Where the parts lie in a cell drawn in `rect`.
    QRect iconRect(const QRect& rect) const;
    static QRect recoveryButtonRect(const QRect& rect);
    void paint(QPainter& painter, const QRect& rect) const;

private:
    std::function<void()> recoveryActionBlock_;
    QString effectName_;
    QImage effectIcon_;
    QColor backgroundColor_;
    std::int64_t iconTag_ = -1;
    float effectIconWidthContraint_ = kIconMaxWidth;
    float effectIconHeigthContraint_ = kIconHeight;
    bool isDeletedCell_ = false;
    bool iconEnabled_ = true;
};
