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
    if (untilCleared_ && text.isEmpty())
        return;
    untilCleared_ = false;
    display(text);
}

void FailureLine::sayUntilCleared(const QString &text)
{
    untilCleared_ = true;
    display(text);
}

void FailureLine::clear()
{
    untilCleared_ = false;
    display({});
}

void FailureLine::display(const QString &text)
{
    stale_ = false;
    if (text == said())
        return;
    setText(fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 2 * sideMargin));
    setAccessibleDescription(text);
    setVisible(!text.isEmpty());
    QAccessibleEvent described(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
}

void FailureLine::goUnlessSaidAgain()
{
    if (!isVisible() || stale_ || untilCleared_)
        return;
    stale_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (stale_)
                say({});
        },
        Qt::QueuedConnection);
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
