#pragma once

#include "LagHistory.h"

#include <QWidget>

// The lag graph's band as an element of its own: an unfocusable widget over
// the band that the window paints, whose description sums up what the graph
// shows for screen readers, and whose tooltip tells how much its round trips
// vary. Both are made only when asked for, so a reply costs nothing more.
class GraphBand : public QWidget {
    Q_OBJECT

  public:
    GraphBand(const LagHistory &history, QWidget *parent);

    std::string summary() const;
    // Tells a listening screen reader that the summary changed.
    void redrawn();

  protected:
    bool event(QEvent *event) override;

  private:
    const LagHistory &history_;
};
