#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

class QLabel;

// The splash window: the splash picture with the version line below it, without a frame.
class FlashWindowController final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kVersionLineHeight = 20;

    explicit FlashWindowController(QWidget* parent = nullptr);

    QLabel* versionText() const { return versionText_; }
    QLabel* flashView() const { return flashView_; }

    // The interface language's "System Version: " and the version.
    void setVersion(const std::string& version);
    // The splash's place on `screen` for a picture of `flashSize`: horizontally centred, its centre
    // 20 points above the screen's (the version line's height), whole points truncated toward zero.
    static QRect splashFrame(const QRect& screen, const QSize& flashSize);

private:
    QLabel* flashView_;
    QLabel* versionText_;
};
