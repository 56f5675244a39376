#pragma once

#include <QLabel>

// One line saying what went wrong, over the graph band. It has no
// background: its text stands on a halo of the window's colour, so the bars
// under it stay in sight and the text stays readable on red, green or none.
// The whole text is its description for screen readers, who hear of it only
// when it changes.
class FailureLine : public QLabel {
    Q_OBJECT

  public:
    FailureLine(const QRect &geometry, QWidget *parent);

    // Shows `text`, shortened in the middle to fit, or hides the line for an
    // empty one; but the engine's news leave a text said until cleared.
    void say(const QString &text);
    void sayUntilCleared(const QString &text);
    void clear();
    QString said() const { return accessibleDescription(); }
    // The line goes once the event being handled ends, unless said again
    // in it: what a failure that repeats with every request keeps showing
    // neither flickers nor is told to screen readers once per request.
    void goUnlessSaidAgain();

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void display(const QString &text);

    bool stale_ = false;
    bool untilCleared_ = false;
};
