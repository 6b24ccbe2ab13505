#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <memory>
#include <vector>

class BankItem;
class PatchItem;

// The device patch list as the table sees it: at least 30 rows (filler rows below the device's slots),
// the bank label, the name and the comment. It reads the screen's lists, which the screen owns.
class PatchListTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMinimumRows = 30;
    static constexpr int kRowHeight = 55;
    enum Column { BankColumn = 0, PatchColumn = 1, CommentColumn = 2, ColumnCount = 3 };
    enum Role {
        // The row's bank colour (QColor); none without a device.
        BankColorRole = Qt::UserRole + 1,
        // A filler row below the device's slots.
        IsEmptyRowRole,
        // The patch's warning mark.
        IsWarningRole,
    };

    PatchListTableModel(const std::vector<std::shared_ptr<PatchItem>>& patchItems,
                        const std::vector<std::shared_ptr<BankItem>>& bankItems, QObject* parent = nullptr);

    void setNumberOfSlotsInBlank(std::uint64_t count) { numberOfSlotsInBlank_ = count; }
    std::uint64_t numberOfSlotsInBlank() const { return numberOfSlotsInBlank_; }
    // A row past the bank items.
    bool isEmptyRow(int row) const;
    // The patch of the row; none for a filler row or a slot without a patch.
    std::shared_ptr<PatchItem> patchItemAt(int row) const;
    // Everything may have changed.
    void reload();
    // One row's texts or marks changed.
    void rowChanged(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const std::vector<std::shared_ptr<PatchItem>>& patchItems_;
    const std::vector<std::shared_ptr<BankItem>>& bankItems_;
    std::uint64_t numberOfSlotsInBlank_ = 0;
};
