#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <QWidget>

#include <memory>
#include <vector>

class DirectoryObject;

namespace testing_app {

// The plain patch screen's face: the device list on the left, the pool on the right and the one button
// under the pool.
class PlainPatchScreenView final : public QWidget {
    Q_OBJECT
public:
    PlainPatchScreenView(const QString& listTitle, const QString& poolTitle, const QString& buttonTitle,
                          QWidget* parent = nullptr);

    QPushButton* button() { return &button_; }
    QListWidget* list() { return &list_; }
    void showList(const QStringList& rows);
    void showPool(const std::vector<std::shared_ptr<DirectoryObject>>& tree);
    // A locked pool is greyed out and takes no edits.
    void setPoolLocked(bool locked);

private:
    QLabel listTitle_;
    QLabel poolTitle_;
    QListWidget list_;
    QTreeWidget pool_;
    QPushButton button_;
};

}  // namespace testing_app
