#include "ValueLabel.h"

#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
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
            const QRectF ink = raw_.boundingRect(glyphs_[i]);
            leftReach_ = std::max(leftReach_, -ink.left());
            rightReach_ = std::max(rightReach_, ink.right() - advances_[i]);
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
    // How far any glyph of the alphabet reaches left of where it stands.
    qreal leftReach() const { return leftReach_; }

    // Where the glyph after `text` would stand; none when a character is
    // not in the table.
    std::optional<qreal> width(QStringView text) const
    {
        if (!usable_)
            return std::nullopt;
        qreal x = 0;
        for (const QChar c : text) {
            const size_t i = alphabet.find(c.unicode());
            if (i == std::u16string_view::npos)
                return std::nullopt;
            x += advances_[i];
        }
        return x;
    }

    // The glyphs of `text` placed from (0, baseline) that reach into the
    // columns from `left` to `right`; none when a character is not in the
    // table.
    std::optional<QGlyphRun> compose(QStringView text, qreal left, qreal right) const
    {
        if (!usable_)
            return std::nullopt;
        QList<quint32> glyphs;
        QList<QPointF> positions;
        qreal x = 0;
        for (const QChar c : text) {
            const size_t i = alphabet.find(c.unicode());
            if (i == std::u16string_view::npos)
                return std::nullopt;
            // A pixel more either way, for the blend.
            if (x - leftReach_ - 1 <= right && x + advances_[i] + rightReach_ + 1 >= left) {
                glyphs.append(glyphs_[i]);
                positions.append({x, baseline_});
            }
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
    qreal leftReach_ = 0;
    qreal rightReach_ = 0; // past its advance
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
    // Qt then leaves the label out of the parent's paint pass and out of the
    // repaints its own setText asks for: the parent paints it.
    setUpdatesEnabled(false);
}

void ValueLabel::setValue(const QString &text)
{
    const QString old = this->text();
    setText(text);
    parentWidget()->update(changed(old, text).translated(pos()));
}

// Where the pixels of `now` can differ from those of `old`: from the first
// character that changed, less the farthest a glyph reaches to its left and
// a pixel for the blend, to the label's end. Before it, both texts have the
// same glyphs in the same places, and nothing after them reaches there. At
// a fractional scale Qt may round that edge unlike the painter: all of it.
QRect ValueLabel::changed(const QString &old, const QString &now) const
{
    const qreal ratio = devicePixelRatioF();
    if (ratio != std::round(ratio))
        return rect();
    qsizetype same = 0;
    while (same < old.size() && same < now.size() && old[same] == now[same])
        ++same;
    const GlyphTable &table = glyphTable(font());
    const std::optional<qreal> prefix = table.width(QStringView(now).left(same));
    if (same == 0 || !prefix || !table.width(old) || !table.width(now))
        return rect();
    const int left = std::max(int(std::floor(*prefix - table.leftReach())) - 1, 0);
    return QRect(left, 0, width() - left, height());
}

void ValueLabel::show(std::string_view value)
{
    const QLatin1StringView latin1(value.data(), qsizetype(value.size()));
    if (text() != latin1)
        setValue(latin1.toString());
}

void ValueLabel::paintOnParent(QPainter &painter, const QRect &area)
{
    const QRect shared = area & geometry();
    if (shared.isEmpty())
        return;
    const QRect mine = shared.translated(-pos());
    // The parent paints within `area` alone already; only where that goes
    // past the label must the label's paint be kept inside it.
    const bool clipped = !geometry().contains(area);
    if (clipped) {
        painter.save();
        painter.setClipRect(shared, Qt::IntersectClip);
    }
    painter.translate(pos());
    const bool painted = paintValue(painter, mine);
    painter.translate(-pos());
    if (clipped)
        painter.restore();
    if (!painted)
        render(&painter, pos(), mine, {}); // QLabel's own text, over the background
}

void ValueLabel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (!paintValue(painter, event->rect())) {
        painter.end();
        QLabel::paintEvent(event);
    }
}

bool ValueLabel::paintValue(QPainter &painter, const QRect &rect)
{
    // No frame and no margin: the contents are the whole label. And the
    // label at whole device pixels: at a fraction of one (an odd place on a
    // 1.5x screen), QLabel places its text otherwise.
    const QTransform &device = painter.deviceTransform();
    const bool plain = layoutDirection() == Qt::LeftToRight && frameWidth() == 0 && margin() == 0 &&
                       device.dx() == std::round(device.dx()) &&
                       device.dy() == std::round(device.dy());
    if (!plain)
        return false;
    // The widget's palette is in the colour group QLabel paints with; the
    // paper is the window's background, as the window paints it around.
    painter.fillRect(rect, palette().color(QPalette::Window));
    const auto run = glyphTable(font()).compose(text(), rect.left(), rect.right() + 1);
    if (!run)
        return false;
    painter.setPen(palette().color(foregroundRole()));
    painter.drawGlyphRun(QPointF(0, 0), *run);
    return true;
}
