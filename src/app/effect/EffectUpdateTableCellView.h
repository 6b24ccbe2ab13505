#pragma once

#include <QWidget>

class QLabel;

// One row of the update notice: the effect's name and its old and new versions, both in black.
class EffectUpdateTableCellView final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kIdentifier = "updatedCell";

    explicit EffectUpdateTableCellView(QWidget* parent = nullptr);

    QLabel* effectNameLabel() const { return effectNameLabel_; }
    QLabel* versionLabel() const { return versionLabel_; }

private:
    QLabel* effectNameLabel_;
    QLabel* versionLabel_;
};
