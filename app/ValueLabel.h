#pragma once

#include <QLabel>

// A label for a number that changes with every reply ("1234", "56 ms",
// "7 %"). Its text is drawn from glyphs shaped once per character, not shaped
// and laid out again on every paint; texts or fonts that need real shaping
// (other characters, kerning between digits) are drawn as QLabel draws them.
// The parent paints it in its own paint pass (paintOnParent), so a new value
// costs no paint pass of the label's own; its text is therefore set with
// setValue(), which asks the parent to repaint it.
class ValueLabel : public QLabel {
    Q_OBJECT

  public:
    ValueLabel(const QRect &geometry, QWidget *parent);

    void setValue(const QString &text);
    // Paints the label, background included, where it meets `area` of the
    // parent, with `painter` on the parent.
    void paintOnParent(QPainter &painter, const QRect &area);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    // Paints the label's background and, where it can, its text, with
    // `painter` in the label's coordinates; false when QLabel must draw the
    // text.
    bool paintValue(QPainter &painter, const QRect &rect);
    // Paints the background and the text from its glyphs, where the text's
    // characters are in the table.
    bool paintGlyphs(QPainter &painter, const QRect &rect, const QColor &paper, const QColor &ink);
};
