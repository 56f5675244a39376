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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
    IcmpSockets sockets = openIcmpSockets();
    if (!dropPrivileges().empty())
        return 1;
    const long interval = std::clamp(std::strtol(argv[1], nullptr, 10), 10L, 10000L);
    const long seconds = std::clamp(std::strtol(argv[2], nullptr, 10), 1L, 600L);
    int toolkitArgc = 1;
    QApplication app(toolkitArgc, argv);
    IcmpEngine engine(std::move(sockets));
    std::vector<int> roundTrips;
    QObject::connect(&engine, &EchoEngine::replyReceived,
                     [&](qint16, int, qint32 ms) { roundTrips.push_back(ms); });
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
    std::sort(roundTrips.begin(), roundTrips.end());
    if (!roundTrips.empty())
        std::printf("replies %zu rtt-median %d\n", roundTrips.size(),
                    roundTrips[roundTrips.size() / 2]);
    return 0;
}
