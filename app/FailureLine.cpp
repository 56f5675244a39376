#include "FailureLine.h"

#include <QAccessible>
#include <QPainter>
#include <QPainterPath>

namespace {

// Wide enough to part the glyphs from any bar at 1x, thin enough to leave
// most of each bar in sight.
constexpr qreal haloWidth = 4;
constexpr int sideMargin = 4;

} // namespace

FailureLine::FailureLine(const QRect &geometry, QWidget *parent) : QLabel(parent)
{
    setObjectName("failureLine");
    setGeometry(geometry);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void FailureLine::say(const QString &text)
{
    if (text == said())
        return;
    setText(fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 2 * sideMargin));
    setAccessibleDescription(text);
    setVisible(!text.isEmpty());
    QAccessibleEvent described(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
}

void FailureLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetricsF metrics(font());
    const QPointF baseline((width() - metrics.horizontalAdvance(text())) / 2,
                           (height() - metrics.height()) / 2 + metrics.ascent());
    QPainterPath outline;
    outline.addText(baseline, font(), text());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(outline, QPen(palette().color(QPalette::Window), haloWidth, Qt::SolidLine,
                                     Qt::RoundCap, Qt::RoundJoin));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(baseline, text());
}
