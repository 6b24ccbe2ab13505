#pragma once

#include <QObject>

// While it lives, no key, mouse button, wheel, touch or drop reaches any window of the program: the
// windows still paint and a close still arrives, but nothing new can start. The pointer shows that the
// program is busy.
class UserInputHold final : public QObject {
public:
    UserInputHold();
    ~UserInputHold() override;
    UserInputHold(const UserInputHold&) = delete;
    UserInputHold& operator=(const UserInputHold&) = delete;

    // Whether the event is one of the user's that the hold keeps back.
    static bool isHeld(const QEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
