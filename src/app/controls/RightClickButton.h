#pragma once

#include <QPushButton>

#include <functional>

// A button with a second action for the right mouse button: releasing the left button over it runs its
// action and releasing the right button runs its right action, each once, and only while it is
// enabled. The option menus and the undo menu give both the same action. A click takes no keys from the
// text being typed.
class RightClickButton : public QPushButton {
    Q_OBJECT
public:
    explicit RightClickButton(QWidget* parent = nullptr);
    explicit RightClickButton(const QString& title, QWidget* parent = nullptr);

    // A menu's button: enabled or not, its left and right clicks running the same action.
    static RightClickButton* menuButton(const QString& title, bool enabled, const std::function<void()>& action,
                                        QWidget* parent);

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
