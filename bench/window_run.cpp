// The program as main starts it, pinging HOST at INTERVAL_MS (typed into the
// host box as "S:<interval>") for SECONDS, then printing when the window was
// first painted, measured from LAGOSCOPE_EXEC_NS (the wall clock just before
// exec, in ns) when that is set, and the median round trip it was told.
// lagoscope-bench-window INTERVAL_MS SECONDS HOST
#include "Clocks.h"
#include "Program.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
// Notes the first paint of the window, and counts the frames presented: a
// frame paints the window under the labels and the band it updates, in one
// pass of the event loop.
class Paints : public QObject {
  public:
    int64_t firstAtNs = 0;
    int64_t lastAtNs = 0;
    long frames = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        const int64_t now = wallNs();
        if (frames == 0)
            firstAtNs = now;
        if (now - lastAtNs > 2'000'000)
            ++frames;
        lastAtNs = now;
        return false;
    }
};
} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const long interval = std::clamp(std::strtol(argv[1], nullptr, 10), 10L, 10000L);
    const long seconds = std::clamp(std::strtol(argv[2], nullptr, 10), 1L, 86400L);
    std::string failure;
    const auto program = Program::start(
        argv[0], argv[3], [] {}, failure);
    if (!program)
        return 1;
    frmPing &window = program->window();
    // Counts per millisecond, so that a long soak keeps constant memory.
    std::array<long, 10001> roundTrips{};
    long replies = 0;
    QObject::connect(&program->engine(), &EchoEngine::replyReceived, [&](qint16, int, qint32 ms) {
        ++roundTrips[static_cast<size_t>(std::clamp(ms, 0, 10000))];
        ++replies;
    });
    Paints paints;
    window.installEventFilter(&paints);
    window.show();
    auto *box = window.findChild<QLineEdit *>("HostName");
    box->setText(QString("S:%1").arg(interval));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(box, &enter);
    QTimer::singleShot(int(seconds * 1000), &QApplication::quit);
    QElapsedTimer running;
    running.start();
    program->run();
    std::printf("frames-per-second %.1f\n", paints.frames * 1e3 / running.elapsed());

    const char *exec = std::getenv("LAGOSCOPE_EXEC_NS");
    if (exec && paints.firstAtNs)
        std::printf("painted-after-exec-ms %.1f\n",
                    (paints.firstAtNs - std::strtoll(exec, nullptr, 10)) / 1e6);
    long seen = 0;
    for (size_t ms = 0; replies > 0 && ms < roundTrips.size(); ++ms) {
        seen += roundTrips[ms];
        if (2 * seen > replies) {
            std::printf("replies %ld rtt-median %zu\n", replies, ms);
            break;
        }
    }
    return 0;
}
