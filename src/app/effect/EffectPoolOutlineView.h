#pragma once

#include <QPixmap>
#include <QPointF>
#include <QTreeView>

#include <functional>
#include <memory>
#include <set>
#include <vector>

class CustomScroller;
class DirectoryObject;
class EffectItem;
class EffectPoolModel;
class QMimeData;

// The effect pool outline: a click selects one row and opens or closes a group; a drag of selected
// effects from two points on carries them to the device list; the background is the pool's dark blue
// and the rows draw their own selection. Its ruler shows exactly when the rows reach below the visible
// area. Rows are counted as shown, from the top.
class EffectPoolOutlineView final : public QTreeView {
    Q_OBJECT
public:
    using CanDragEffectItem = std::function<bool(const EffectItem& item)>;
    // Starts the drag of the data with the picture, the pointer at the hot spot.
    using DragStarter = std::function<void(std::unique_ptr<QMimeData> data, const QPixmap& image, const QPoint& hotSpot)>;

    explicit EffectPoolOutlineView(QWidget* parent = nullptr);

    void setPoolModel(EffectPoolModel* model);
    void setCanDragEffectItem(CanDragEffectItem canDrag) { canDragEffectItem_ = std::move(canDrag); }
    void setDragStarter(DragStarter starter) { dragStarter_ = std::move(starter); }

    const std::set<int>& selectionIndexSet() const { return selectionIndexSet_; }
    QPointF mouseDownPoint() const { return mouseDownPoint_; }

    // Opens the item, shows its last child and then itself, and updates the ruler.
    void expandItem(const QModelIndex& index);
    // Opens the item only.
    void forceExpandForItem(const QModelIndex& index);
    void collapseItem(const QModelIndex& index);
    // The model reloads (the same tree keeps its open groups and selection), then the ruler follows.
    void reloadData(bool structureChanged);
    bool isExpandedOverView() const;
    void updateRuler();
    bool rulerVisible() const;
    // The drawn scroller beside the outline, in the effect screen's pictures.
    CustomScroller* verticalScroller() const { return verticalScroller_; }

    // The rows as shown, top to bottom.
    std::vector<QModelIndex> shownRows() const;
    int rowForIndex(const QModelIndex& index) const;
    QModelIndex indexForRow(int row) const;
    int rowAtPoint(const QPointF& point) const;
    std::vector<std::shared_ptr<DirectoryObject>> selectedNodes() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The style's own arrows are dark on the pool's dark background: light triangles instead.
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

private:
    void selectRows(const std::set<int>& rows);
    void dragSelectedEffects(const QPointF& point);

    EffectPoolModel* poolModel_ = nullptr;
    std::set<int> selectionIndexSet_;
    QPointF mouseDownPoint_;
    CanDragEffectItem canDragEffectItem_;
    DragStarter dragStarter_;
    CustomScroller* verticalScroller_ = nullptr;
};
