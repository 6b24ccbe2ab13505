#pragma once

#include <QPushButton>

#include <functional>

// A button with a second action for the right mouse button: releasing the left button over it runs its
// action and releasing the right button runs its right action, each once, and only while it is
// enabled. The option menus and the undo menu give both the same action.
class RightClickButton : public QPushButton {
    Q_OBJECT
public:
    explicit RightClickButton(QWidget* parent = nullptr);
    explicit RightClickButton(const QString& title, QWidget* parent = nullptr);

    void setAction(std::function<void()> action) { leftButtonAction_ = std::move(action); }
    void setRightAction(std::function<void()> action) { rightButtonAction_ = std::move(action); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void()> leftButtonAction_;
    std::function<void()> rightButtonAction_;
    bool rightPressed_ = false;
};
