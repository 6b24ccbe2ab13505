#pragma once

#include <QWidget>

#include <functional>

// The patch screen's left pane: it runs its block whenever it moves or changes size, so that what sits
// at its right edge (the Backup All button) follows the seam between the panes. Every pane runs its own
// block.
class CustomLeftView : public QWidget {
    Q_OBJECT
public:
    explicit CustomLeftView(QWidget* parent = nullptr);

    // Replaces any earlier block.
    void onChangeFrame(std::function<void()> call) { call_ = std::move(call); }
    // Runs the block when one is set.
    void boundsDidChangeNotification();
    void actionForBoundDidChange() { boundsDidChangeNotification(); }

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::function<void()> call_;
};
