#include "app/views/ProcessingView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/views/NamedImages.h"

namespace {
std::size_t frameIndex = 0;  // main thread only, like every view
}

ProcessingView::ProcessingView(QWidget* parent) : QWidget(parent), synchronizingImageView_(new QLabel(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    synchronizingImageView_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(synchronizingImageView_);
    displaySynchronization();
}

QString ProcessingView::frameName(int number)
{
    return number < 10 ? QStringLiteral("301Animation0%1").arg(number) : QStringLiteral("301Animation%1").arg(number);
}

std::size_t ProcessingView::sharedFrameIndex() { return frameIndex; }

void ProcessingView::displaySynchronization()
{
    for (int number = 1; number <= kFrameCount; ++number) {
        const QImage frame = NamedImages::image(frameName(number));
        if (!frame.isNull()) syncIconImages_.append(QPixmap::fromImage(frame));
    }
    syncAnimationIconTimer_.setInterval(kFrameIntervalMilliseconds);
    connect(&syncAnimationIconTimer_, &QTimer::timeout, this, &ProcessingView::animateSyncIcon);
    syncAnimationIconTimer_.start();
}

void ProcessingView::animateSyncIcon()
{
    if (syncIconImages_.isEmpty()) return;
    if (frameIndex >= static_cast<std::size_t>(syncIconImages_.size())) frameIndex = 0;
    synchronizingImageView_->setPixmap(syncIconImages_.at(static_cast<qsizetype>(frameIndex)));
    ++frameIndex;
}
