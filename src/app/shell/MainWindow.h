#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>

// The single window of the program. The main window controller's view is its content.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    static constexpr int kContentWidth = 1500;
    static constexpr int kContentHeight = 1500;

    // The content size wanted, cut to what the screen has room for, centred on it.
    static QRect contentFrame(const QSize& wanted, const QRect& available);
    void setContentView(QWidget* view);
    // Sizes the window to its content frame on the primary screen.
    void placeOnScreen();
};
