#pragma once

#include <QHeaderView>

#include <functional>
#include <vector>

// The header of the effect list and of the effect pool, 25 points high: one drawn cell per column, with
// a separator on the left of every cell but the first, one on the right of the list's last cell, and
// the sort arrow of the column the list is sorted by, drawn only while a device is connected.
class EffectHeaderView final : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kHeight = 25;

    // What each column's cell draws.
    struct HeaderCell {
        // 0 effect pool, 1 effect list.
        int headerType = 1;
        bool isNotFirstCell = false;
        bool isLastEffectCell = false;
        // 0 none, 1 ascending, 2 descending.
        int sortState = 0;
    };

    EffectHeaderView(int headerType, std::function<bool()> isDeviceConnected, QWidget* parent = nullptr);

    // One cell per section of the model, the first without its left separator, the last with its right one.
    void setUpCells(int count);
    const HeaderCell& cell(int section) const;
    void setSortState(int section, int sortState);

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    int headerType_;
    std::function<bool()> isDeviceConnected_;
    std::vector<HeaderCell> cells_;
};
