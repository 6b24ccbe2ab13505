#pragma once

#include <QHeaderView>

#include <vector>

#include "app/controls/CustomHeaderCell.h"

// A list's horizontal header painted section by section by its CustomHeaderCell, with the model's
// header titles. The list sets each cell's properties; sections without one set use a default cell.
// The sort indicator is the cells' own, shown only while a device is connected.
class CustomHeaderView : public QHeaderView {
    Q_OBJECT
public:
    explicit CustomHeaderView(QWidget* parent = nullptr);

    // The cell of a logical section, made on first asking.
    CustomHeaderCell& headerCell(int logicalIndex);
    const CustomHeaderCell* headerCellIfAny(int logicalIndex) const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    std::vector<CustomHeaderCell> cells_;
};
