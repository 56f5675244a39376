#pragma once

#include <QLabel>

#include <string_view>

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
    // The same for a text of Latin-1 characters, where it differs from the
    // one shown: an unchanged text costs neither a new string nor a repaint.
    void show(std::string_view text);
    // Paints the label, background included, where it meets `area` of the
    // parent, with `painter` on the parent, which paints within `area` alone.
    void paintOnParent(QPainter &painter, const QRect &area);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    // What a new text repaints of the label: where it can differ from the old.
    QRect changed(const QString &old, const QString &now) const;
    // Paints the label's background and, where its characters are in the
    // glyph table, its text, with `painter` in the label's coordinates;
    // false when QLabel must draw the text.
    bool paintValue(QPainter &painter, const QRect &rect);
};
