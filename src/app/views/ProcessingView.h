#pragma once

#include <QList>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstddef>

class QLabel;

// The working overlay: a turning picture that animates from the moment the view is made, hidden or
// not. Every processing view steps one frame index shared by the whole process.
class ProcessingView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameCount = 18;
    static constexpr int kFrameIntervalMilliseconds = 100;

    explicit ProcessingView(QWidget* parent = nullptr);

    // "301Animation01" to "301Animation09", then "301Animation10" to "301Animation18".
    static QString frameName(int number);
    static std::size_t sharedFrameIndex();

    void displaySynchronization();
    void animateSyncIcon();

    const QList<QPixmap>& syncIconImages() const { return syncIconImages_; }
    QLabel* synchronizingImageView() const { return synchronizingImageView_; }

private:
    QList<QPixmap> syncIconImages_;
    QTimer syncAnimationIconTimer_;
    QLabel* synchronizingImageView_;
};
