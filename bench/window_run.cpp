// The program as main wires it, pinging HOST at INTERVAL_MS (typed into the
// host box as "S:<interval>") for SECONDS, then printing when the window was
// first painted, measured from LAGOSCOPE_EXEC_NS (the wall clock just before
// exec, in ns) when that is set, and the median round trip it was told.
// lagoscope-bench-window INTERVAL_MS SECONDS HOST
#include "IcmpEngine.h"
#include "Privileges.h"
#include "frmPing.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
int64_t wallNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

// Notes the first paint of the window.
class FirstPaint : public QObject {
  public:
    int64_t atNs = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && atNs == 0)
            atNs = wallNs();
        return false;
    }
};
} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    EchoChannels channels = openEchoChannels();
    if (!dropPrivileges().empty())
        return 1;
    const long interval = std::clamp(std::strtol(argv[1], nullptr, 10), 10L, 10000L);
    const long seconds = std::clamp(std::strtol(argv[2], nullptr, 10), 1L, 86400L);
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    IcmpEngine engine(std::move(channels));
    // Counts per millisecond, so that a long soak keeps constant memory.
    std::array<long, 10001> roundTrips{};
    long replies = 0;
    QObject::connect(&engine, &EchoEngine::replyReceived, [&](qint16, int, qint32 ms) {
        ++roundTrips[static_cast<size_t>(std::clamp(ms, 0, 10000))];
        ++replies;
    });
    frmPing window(
        engine, [] {}, argv[3]);
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    auto *box = window.findChild<QLineEdit *>("HostName");
    box->setText(QString("S:%1").arg(interval));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(box, &enter);
    QTimer::singleShot(int(seconds * 1000), &app, &QApplication::quit);
    app.exec();

    const char *exec = std::getenv("LAGOSCOPE_EXEC_NS");
    if (exec && firstPaint.atNs)
        std::printf("painted-after-exec-ms %.1f\n",
                    (firstPaint.atNs - std::strtoll(exec, nullptr, 10)) / 1e6);
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
