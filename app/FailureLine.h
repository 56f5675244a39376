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
    // empty one.
    void say(const QString &text);
    QString said() const { return accessibleDescription(); }

  protected:
    void paintEvent(QPaintEvent *event) override;
};
