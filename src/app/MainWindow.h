#pragma once

#include <QMainWindow>

// The single window of the program. The screens are placed in it as they come.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    static constexpr int kContentWidth = 1500;
    static constexpr int kContentHeight = 1500;
};
