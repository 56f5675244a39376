// Prints what one reply costs the window: statistics, labels and a full
// redraw of the graph, driven through a scripted engine.
#include "../tests/ScriptedEngine.h"
#include "frmPing.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ScriptedEngine engine;
    frmPing window(
        engine, [] {}, "host");

    constexpr int replies = 20000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= replies; ++i) {
        engine.sent();
        // Every 50th reply reveals a loss, as a lossy line would.
        engine.reply(static_cast<qint16>(i + i / 50), 20 + i % 300);
    }
    const double us = clock.nsecsElapsed() / 1e3 / replies;
    std::printf("reply handler: %.1f us per reply over %d replies\n", us, replies);
    return 0;
}
