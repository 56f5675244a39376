#pragma once

#include <QLineEdit>

// The host text box. It reports when it is entered (by Tab, Shift+Tab, its
// access key, a click, or the window's first show), and hands each typed
// character to a handler that may swallow it by setting the code to 0 (Enter
// arrives as 13).
class HostBox : public QLineEdit {
    Q_OBJECT

  public:
    using QLineEdit::QLineEdit;

    // The text without its leading and trailing spaces (only spaces: a tab
    // stays).
    QString textWithoutSpaces() const;

  signals:
    void gotFocus();
    void keyPress(qint16 &keyAscii);

  protected:
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    bool focusedByThisClick_ = false;
    bool enteredBefore_ = false;
};
