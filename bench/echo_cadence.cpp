// Prints how closely the engine keeps its send cadence and what round trips
// it measures against this machine's loopback: lagoscope-bench-cadence
// [interval ms] [requests] [127.0.0.1 | ::1].
#include "IcmpEngine.h"
#include "Platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    EchoChannels channels = openEchoChannels();
    if (const std::string failure = dropPrivileges(); !failure.empty()) {
        std::fprintf(stderr, "lagoscope-bench-cadence: cannot give up privileges (%s)\n",
                     failure.c_str());
        return 1;
    }
    if (const std::string advice = permissionAdvice(channels, argv[0]); !advice.empty())
        std::fprintf(stderr, "%s\n", advice.c_str());
    QCoreApplication app(argc, argv);
    const int interval =
        argc > 1 ? int(std::clamp(std::strtol(argv[1], nullptr, 10), 10L, 1000L)) : 10;
    const int requests =
        argc > 2 ? int(std::clamp(std::strtol(argv[2], nullptr, 10), 2L, 100000L)) : 1000;
    const QString host = argc > 3 && QString(argv[3]) == "::1" ? "::1" : "127.0.0.1";

    IcmpEngine engine(std::move(channels));
    std::vector<qint64> sendNs;
    std::vector<int> roundTrips;
    QElapsedTimer clock;
    QObject::connect(&engine, &EchoEngine::requestSent, [&] {
        sendNs.push_back(clock.nsecsElapsed());
        if (int(sendNs.size()) == requests)
            engine.setRunning(false);
    });
    QObject::connect(&engine, &EchoEngine::replyReceived,
                     [&](qint16, int, qint32 ms) { roundTrips.push_back(ms); });
    QObject::connect(&engine, &EchoEngine::stoppedSending, &app, &QCoreApplication::quit);
    // Bounded: give up well after the run should have ended.
    QTimer::singleShot(interval * requests * 2 + 5000, &app, &QCoreApplication::quit);
    QTimer::singleShot(0, [&] {
        if (int(sendNs.size()) >= requests)
            app.quit();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (int(sendNs.size()) >= requests && roundTrips.size() >= sendNs.size())
            app.quit();
    });
    poll.start(50);

    engine.setInterval(interval);
    engine.setHost(host);
    clock.start();
    engine.setRunning(true);
    app.exec();

    if (sendNs.size() < 2) {
        std::printf("no requests went out to %s\n", qPrintable(host));
        return 1;
    }
    std::vector<double> lateMs;
    for (size_t i = 0; i < sendNs.size(); ++i)
        lateMs.push_back((sendNs[i] - sendNs[0]) / 1e6 - double(i) * interval);
    std::sort(lateMs.begin(), lateMs.end());
    const double span = (sendNs.back() - sendNs.front()) / 1e6;
    std::printf("%zu requests at %d ms to %s: %.1f ms from first to last (ideal %d)\n",
                sendNs.size(), interval, qPrintable(host), span,
                (int(sendNs.size()) - 1) * interval);
    std::printf("send time behind its deadline: median %.2f ms, 99th %.2f ms, worst %.2f ms\n",
                lateMs[lateMs.size() / 2], lateMs[lateMs.size() * 99 / 100], lateMs.back());
    std::vector<double> gapsMs;
    for (size_t i = 1; i < sendNs.size(); ++i)
        gapsMs.push_back((sendNs[i] - sendNs[i - 1]) / 1e6);
    std::sort(gapsMs.begin(), gapsMs.end());
    std::printf("gap between requests: least %.2f ms, median %.2f ms, 99th %.2f ms, most %.2f ms\n",
                gapsMs.front(), gapsMs[gapsMs.size() / 2], gapsMs[gapsMs.size() * 99 / 100],
                gapsMs.back());
    std::printf("%zu replies; round trip max %d ms\n", roundTrips.size(),
                roundTrips.empty() ? -1 : *std::max_element(roundTrips.begin(), roundTrips.end()));
    return 0;
}
