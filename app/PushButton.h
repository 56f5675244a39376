#pragma once

#include <QPushButton>

// A push button that Enter and keypad Enter press as Space does, once per
// key press: how a focused button behaves on the program's home platform.
class PushButton : public QPushButton {
    Q_OBJECT

  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent *event) override;
};
