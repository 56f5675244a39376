#include "ValueLabel.h"

#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

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
    bool usable() const { return usable_; }
    qreal advance(size_t i) const { return advances_[i]; }
    quint32 glyph(size_t i) const { return glyphs_[i]; }
    qreal baseline() const { return baseline_; }
    const QRawFont &rawFont() const { return raw_; }

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

// How a label looks in device pixels: its font, ink and paper, its height
// and a whole device pixel ratio.
struct Look {
    QFont font;
    QColor ink;
    QColor paper;
    int height = 0;
    int ratio = 1;
    bool operator==(const Look &) const = default;
};

// One glyph drawn alone on the paper, over the columns it reaches, counted
// from the device pixel its position falls in.
struct Stamp {
    int left = 0;
    int width = 0;                // none for a glyph with no ink (a space)
    std::vector<QRgb> pixels;     // row by row
    std::vector<uint8_t> reach;   // the pixels the glyph blends into at all
    std::vector<uint8_t> changes; // those it leaves other than paper
};

// Glyphs drawn once each, at each fraction of a device pixel they come to
// stand at. A text is then its stamps on the paper: the very pixels drawing
// its glyphs gives, as long as no glyph blends into a pixel that an earlier
// one changed, since every other pixel is blended once, from the paper, as
// in its stamp. The columns where one does are left to the glyphs.
class StampTable {
  public:
    StampTable(const GlyphTable &glyphs, const Look &look) : glyphs_(glyphs), look_(look) {}

    bool fits(const Look &look) const { return look == look_; }

    // Device pixel columns; none when last < first.
    struct Columns {
        int first = std::numeric_limits<int>::max();
        int last = -1;
        bool none() const { return last < first; }
    };

    // `text` on the paper of a label `width` pixels wide, but for the columns
    // where two glyphs meet in a pixel, which it leaves in `met`; nothing when
    // a character is not in the table.
    const QImage *compose(const QString &text, int width, Columns &met)
    {
        if (!glyphs_.usable())
            return nullptr;
        const int ratio = look_.ratio;
        const QSize size(width * ratio, look_.height * ratio);
        if (image_.size() != size) {
            image_ = QImage(size, QImage::Format_RGB32);
            image_.setDevicePixelRatio(ratio);
        }
        image_.fill(look_.paper);
        placed_.clear();
        auto *const out = reinterpret_cast<QRgb *>(image_.bits());
        const qsizetype stride = image_.bytesPerLine() / qsizetype(sizeof(QRgb));
        int placedUpTo = 0; // no earlier glyph reaches a pixel from here on
        qreal position = 0; // where the text engine places the glyph
        for (const QChar c : text) {
            const size_t i = alphabet.find(c.unicode());
            if (i == std::u16string_view::npos)
                return nullptr;
            const qreal x = position * ratio;
            position += glyphs_.advance(i);
            const int pixel = int(std::floor(x));
            const Stamp &stamp = this->stamp(i, x - pixel);
            const int left = pixel + stamp.left;
            // The label clips what does not fit, as QLabel's painter does.
            const int from = std::max(0, -left);
            const int to = std::min(stamp.width, size.width() - left);
            if (from >= to)
                continue;
            const int shared = std::clamp(placedUpTo - left, from, to);
            for (int y = 0; y < size.height(); ++y) {
                const qsizetype in = qsizetype(y) * stamp.width;
                QRgb *line = out + y * stride + left;
                for (int column = from; column < shared; ++column) {
                    if (!stamp.reach[size_t(in + column)])
                        continue;
                    if (changedBefore(left + column, y))
                        met = {std::min(met.first, left + column),
                               std::max(met.last, left + column)};
                    line[column] = stamp.pixels[size_t(in + column)];
                }
                // Where no earlier glyph reaches, the stamp goes down whole:
                // the pixels it does not reach are paper in it too.
                std::copy(stamp.pixels.begin() + in + shared, stamp.pixels.begin() + in + to,
                          line + shared);
            }
            placed_.push_back({left, &stamp});
            placedUpTo = std::max(placedUpTo, left + to);
        }
        return &image_;
    }

  private:
    // Whether a glyph placed so far changed device pixel (x, y).
    bool changedBefore(int x, int y) const
    {
        return std::any_of(placed_.begin(), placed_.end(), [&](const Placed &p) {
            const int column = x - p.left;
            return column >= 0 && column < p.stamp->width &&
                   p.stamp->changes[size_t(y) * size_t(p.stamp->width) + size_t(column)];
        });
    }

    // Glyph `i` of the alphabet at `fraction` of a device pixel (a multiple
    // of 1/64, as text positions are), drawn when first asked for.
    const Stamp &stamp(size_t i, qreal fraction)
    {
        const int key = int(i) * 64 + int(fraction * 64);
        auto found = stamps_.find(key);
        if (found == stamps_.end())
            found = stamps_.emplace(key, draw(i, fraction)).first;
        return found->second;
    }

    Stamp draw(size_t i, qreal fraction) const
    {
        // Wide enough for any glyph's overhang on either side.
        const int margin = 2 * look_.height * look_.ratio;
        const auto drawn = [&](const QColor &ink, const QColor &paper) {
            QImage canvas(2 * margin, look_.height * look_.ratio, QImage::Format_RGB32);
            canvas.setDevicePixelRatio(look_.ratio);
            canvas.fill(paper);
            QPainter painter(&canvas);
            painter.setPen(ink);
            QGlyphRun run;
            run.setRawFont(glyphs_.rawFont());
            run.setGlyphIndexes({glyphs_.glyph(i)});
            run.setPositions({QPointF((margin + fraction) / look_.ratio, glyphs_.baseline())});
            painter.drawGlyphRun(QPointF(0, 0), run);
            return canvas;
        };
        // White on black shows every pixel the glyph blends into at all.
        const QImage reach = drawn(Qt::white, Qt::black);
        const QImage inked = drawn(look_.ink, look_.paper);
        const auto reached = [&](int x, int y) { return reach.pixel(x, y) != qRgb(0, 0, 0); };
        int first = reach.width();
        int last = -1;
        for (int y = 0; y < reach.height(); ++y) {
            for (int x = 0; x < reach.width(); ++x) {
                if (reached(x, y)) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
            }
        }
        Stamp stamp{first - margin, std::max(0, last - first + 1), {}, {}, {}};
        for (int y = 0; y < reach.height(); ++y) {
            for (int x = first; x <= last; ++x) {
                stamp.pixels.push_back(inked.pixel(x, y));
                stamp.reach.push_back(reached(x, y));
                stamp.changes.push_back(inked.pixel(x, y) != look_.paper.rgb());
            }
        }
        return stamp;
    }

    const GlyphTable glyphs_; // a copy: the shared table follows other fonts
    Look look_;
    std::unordered_map<int, Stamp> stamps_;
    QImage image_;
    struct Placed {
        int left;
        const Stamp *stamp;
    };
    std::vector<Placed> placed_; // the glyphs of the text composed so far
};

StampTable &stampTable(const Look &look)
{
    static std::optional<StampTable> table;
    if (!table || !table->fits(look))
        table.emplace(glyphTable(look.font), look);
    return *table;
}

// The whole device pixel ratio `painter` draws at, if it draws at one and
// only scales; the label then sits at whole device pixels too, its offset
// being whole logical pixels.
std::optional<int> wholePixelRatio(const QPainter &painter)
{
    const QTransform &device = painter.deviceTransform();
    const qreal ratio = device.m11();
    if (device.type() > QTransform::TxScale || device.m22() != ratio || ratio < 1 ||
        ratio != std::round(ratio))
        return std::nullopt;
    return int(ratio);
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
    setText(text);
    parentWidget()->update(geometry());
}

void ValueLabel::paintOnParent(QPainter &painter, const QRect &area)
{
    const QRect shared = area & geometry();
    if (shared.isEmpty())
        return;
    const QRect mine = shared.translated(-pos());
    const bool clipped = mine != rect();
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
    // The widget's palette is in the colour group QLabel paints with.
    const QPalette &colours = palette();
    // The window's background, as the window paints it around the label.
    const QColor paper = colours.color(QPalette::Window);
    const QColor ink = colours.color(foregroundRole());
    if (const auto ratio = wholePixelRatio(painter); plain && ratio) {
        const Look look{font(), ink, paper, height(), *ratio};
        StampTable::Columns met;
        if (const QImage *stamped = stampTable(look).compose(text(), width(), met)) {
            painter.drawImage(0, 0, *stamped);
            if (met.none())
                return true;
            // Where two glyphs met, the glyphs themselves.
            painter.save();
            painter.setClipRect(QRectF(qreal(met.first) / *ratio, 0,
                                       qreal(met.last - met.first + 1) / *ratio, height()),
                                Qt::IntersectClip);
            paintGlyphs(painter, rect, paper, ink);
            painter.restore();
            return true;
        }
    }
    return plain && paintGlyphs(painter, rect, paper, ink);
}

bool ValueLabel::paintGlyphs(QPainter &painter, const QRect &rect, const QColor &paper,
                             const QColor &ink)
{
    painter.fillRect(rect, paper);
    const auto run = glyphTable(font()).compose(text());
    if (!run)
        return false;
    painter.setPen(ink);
    painter.drawGlyphRun(QPointF(0, 0), *run);
    return true;
}
