#include "ValueLabel.h"

#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

#include <array>
#include <optional>

namespace {

// Every character a value label shows.
constexpr std::u16string_view alphabet = u"0123456789 -ms%";

// One glyph of `text` as the text engine lays it out on its own line.
QGlyphRun shaped(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const auto runs = layout.glyphRuns();
    return runs.size() == 1 ? runs.front() : QGlyphRun();
}

// The glyph and advance of each character of the alphabet in one font,
// worked out once. Usable only when every pair of characters lays out as the
// two characters side by side, so that composing a text from the table
// places each glyph exactly where the text engine would.
class GlyphTable {
  public:
    explicit GlyphTable(const QFont &font) : font_(font)
    {
        for (size_t i = 0; i < alphabet.size(); ++i) {
            const QChar c(alphabet[i]);
            const QGlyphRun run = shaped(QString(2, c), font);
            if (run.glyphIndexes().size() != 2)
                return;
            glyphs_[i] = run.glyphIndexes()[0];
            advances_[i] = run.positions()[1].x() - run.positions()[0].x();
            baseline_ = run.positions()[0].y();
            raw_ = run.rawFont();
        }
        for (size_t a = 0; a < alphabet.size(); ++a) {
            for (size_t b = 0; b < alphabet.size(); ++b) {
                const QChar pairText[] = {QChar(alphabet[a]), QChar(alphabet[b])};
                const QGlyphRun pair = shaped(QString(pairText, 2), font);
                if (pair.glyphIndexes() != QList<quint32>{glyphs_[a], glyphs_[b]} ||
                    pair.positions()[1].x() - pair.positions()[0].x() != advances_[a])
                    return;
            }
        }
        usable_ = true;
    }

    bool fits(const QFont &font) const { return font == font_; }

    // The glyphs of `text` placed from (0, baseline), or none when a
    // character is not in the table.
    std::optional<QGlyphRun> compose(const QString &text) const
    {
        if (!usable_)
            return std::nullopt;
        QList<quint32> glyphs;
        QList<QPointF> positions;
        glyphs.reserve(text.size());
        positions.reserve(text.size());
        qreal x = 0;
        for (const QChar c : text) {
            const size_t i = alphabet.find(c.unicode());
            if (i == std::u16string_view::npos)
                return std::nullopt;
            glyphs.append(glyphs_[i]);
            positions.append({x, baseline_});
            x += advances_[i];
        }
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        return run;
    }

  private:
    QFont font_;
    QRawFont raw_;
    std::array<quint32, alphabet.size()> glyphs_{};
    std::array<qreal, alphabet.size()> advances_{};
    qreal baseline_ = 0;
    bool usable_ = false;
};

// Labels are painted on the GUI thread alone; the table follows the font.
const GlyphTable &glyphTable(const QFont &font)
{
    static std::optional<GlyphTable> table;
    if (!table || !table->fits(font))
        table.emplace(font);
    return *table;
}

} // namespace

ValueLabel::ValueLabel(const QRect &geometry, QWidget *parent) : QLabel(parent)
{
    setGeometry(geometry);
    // A fixed size also spares the parent a layout request on every new text.
    setFixedSize(geometry.size());
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ValueLabel::paintEvent(QPaintEvent *event)
{
    // The widget's palette is in the colour group QLabel paints with.
    const QPalette &colours = palette();
    QPainter painter(this);
    // The window's background, as the window paints it around the label.
    painter.fillRect(event->rect(), colours.color(QPalette::Window));
    const auto run = glyphTable(font()).compose(text());
    if (!run || layoutDirection() != Qt::LeftToRight || frameWidth() != 0 || margin() != 0) {
        painter.end();
        QLabel::paintEvent(event);
        return;
    }
    // No frame and no margin: the contents are the whole label, which the
    // painter is clipped to already.
    painter.setPen(colours.color(foregroundRole()));
    painter.drawGlyphRun(QPointF(0, 0), *run);
}
