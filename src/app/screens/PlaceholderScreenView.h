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

// The plain face of a screen whose own views come later: its device list on the left, its pool on the
// right and the one button under the pool, so the main window has something true to show.
class PlaceholderScreenView final : public QWidget {
    Q_OBJECT
public:
    PlaceholderScreenView(const QString& listTitle, const QString& poolTitle, const QString& buttonTitle,
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
