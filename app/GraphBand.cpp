#include "GraphBand.h"

#include "ReplyStats.h"

#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QToolTip>

namespace {

class GraphBandAccessible : public QAccessibleWidget {
  public:
    explicit GraphBandAccessible(GraphBand *band) : QAccessibleWidget(band, QAccessible::Chart) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return "Lag graph";
        if (t == QAccessible::Description)
            return QString::fromStdString(static_cast<GraphBand *>(widget())->summary());
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *graphBandAccessible(const QString &className, QObject *object)
{
    if (className == "GraphBand" && object->isWidgetType())
        return new GraphBandAccessible(static_cast<GraphBand *>(object));
    return nullptr;
}

} // namespace

GraphBand::GraphBand(const LagHistory &history, QWidget *parent)
    : QWidget(parent), history_(history)
{
    static const bool installed = (QAccessible::installFactory(graphBandAccessible), true);
    Q_UNUSED(installed);
    setFocusPolicy(Qt::NoFocus);
    // It draws nothing: Qt then leaves it out of the window's paint passes.
    setUpdatesEnabled(false);
}

std::string GraphBand::summary() const
{
    return graphSummary(history_);
}

bool GraphBand::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const QString spread = QString::fromStdString(spreadText(history_));
    if (spread.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), spread, this);
    return true;
}

void GraphBand::redrawn()
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}
