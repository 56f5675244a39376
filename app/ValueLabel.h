#pragma once

#include <QLabel>

// A label for a number that changes with every reply ("1234", "56 ms",
// "7 %"). Its text is drawn from glyphs shaped once per character, not shaped
// and laid out again on every paint; texts or fonts that need real shaping
// (other characters, kerning between digits) are drawn as QLabel draws them.
// It paints its own background, so a new value repaints the label alone, not
// the window under it.
class ValueLabel : public QLabel {
    Q_OBJECT

  public:
    ValueLabel(const QRect &geometry, QWidget *parent);

  protected:
    void paintEvent(QPaintEvent *event) override;
};
