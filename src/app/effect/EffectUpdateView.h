#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "app/screens/EffectUpdateSheet.h"

class EffectUpdateTableCellView;
class QLabel;
class QPushButton;
class QTableWidget;

// The notice of the effects just updated on the device: one row per effect with its old and new
// version, the count in a sentence, and OK (or Return) running the dismiss action. New entries fill the
// rows and the count again, so a notice shown a second time lists what it is given now.
class EffectUpdateView final : public QWidget, public EffectUpdateSheet {
    Q_OBJECT
public:
    explicit EffectUpdateView(QWidget* parent = nullptr);
    ~EffectUpdateView() override;

    // ---- EffectUpdateSheet ----
    QWidget* view() override { return this; }
    void setUpdatedEffectItems(std::vector<UpdatedEffect> updatedEffectItems) override;
    void setDismissActionBlock(std::function<void()> dismissActionBlock) override;

    const std::vector<UpdatedEffect>& updatedEffectItems() const { return updatedEffectItems_; }
    void reloadData();
    void didClickOkButton();

    QTableWidget* tableView() const { return tableView_; }
    QPushButton* okButton() const { return okButton_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* descriptionLabel() const { return descriptionLabel_; }
    EffectUpdateTableCellView* cellAtRow(int row) const;
    // The version column's text: the word Version, the old version, an arrow and the new one.
    static QString versionText(const UpdatedEffect& entry);

private:
    void viewDidLoad();

    std::vector<UpdatedEffect> updatedEffectItems_;
    std::function<void()> dismissActionBlock_;
    QTableWidget* tableView_;
    QPushButton* okButton_;
    QLabel* titleLabel_;
    QLabel* descriptionLabel_;
};
