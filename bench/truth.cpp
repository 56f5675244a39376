// How soon and how truly the window shows what happened on the path: the
// real window and engine against a scripted responder on this namespace's
// loopback (run it inside one: tests/echo/in-netns.sh, as root). Prints one
// line per figure.
//
// lagoscope-bench-truth
#include "IcmpFlood.h"
#include "LiveWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>

namespace {

using Action = IcmpResponder::Action;

void kernelEcho(bool on)
{
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << (on ? 0 : 1);
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void randomLoss()
{
    std::mt19937 random(5);
    std::set<int> drops;
    for (int seq = 1; seq <= 600; ++seq)
        if (random() % 20 == 0)
            drops.insert(seq);
    IcmpResponder responder(icmp::Family::V4, [&](uint16_t seq) {
        return Action{.drop = drops.count(seq) > 0, .delayMs = 20};
    });
    LiveWindow run;
    run.start("127.0.0.1", 100);
    runFor(60'000);
    const auto all = run.delaysMs(responder);
    // The freeze after a loss: how long the reply right after it waited.
    std::vector<double> afterLoss;
    for (qsizetype i = 0; i < run.handedOver.size(); ++i)
        if (drops.count(run.handedOver[i] - 1))
            if (const auto answered = responder.answeredAtNs(uint16_t(run.handedOver[i])))
                afterLoss.push_back(double(run.handedOverNs[i] - *answered) / 1e6);
    std::printf("5%% loss, 100 ms, 20 ms replies, 60 s: %zu replies, %zu drops, %d red bars\n",
                all.size(), drops.size(), run.redBars());
    std::printf("  display delay: median %.2f ms, 90th percentile %.2f ms, worst %.2f ms\n",
                percentile(all, 0.5), percentile(all, 0.9), percentile(all, 1));
    std::printf("  the reply after a loss waited: median %.1f ms, worst %.1f ms\n",
                percentile(afterLoss, 0.5), percentile(afterLoss, 1));
}

void outage()
{
    std::atomic<bool> answering = false;
    IcmpResponder responder(icmp::Family::V4,
                            [&](uint16_t) { return Action{.drop = !answering, .delayMs = 20}; });
    LiveWindow run;
    run.start("127.0.0.1", 100);
    runFor(5000);
    std::printf("silent host for 5 s: sent %s, received %s, loss \"%s\", window \"%s\", %d red "
                "bars\n",
                qPrintable(run.text("SendLabel")), qPrintable(run.text("RecvLabel")),
                qPrintable(run.text("LossLabel")), qPrintable(run.text("wndLoss")), run.redBars());
    const auto firstReplyAfter = [&] {
        const qsizetype before = run.handedOver.size();
        answering = true;
        for (int i = 0; i < 300 && run.handedOver.size() == before; ++i)
            runFor(10);
        const auto delays = run.delaysMs(responder, before);
        return delays.empty() ? -1.0 : delays.front();
    };
    std::printf("  its first reply shown %.1f ms after it arrived\n", firstReplyAfter());
    runFor(3000);
    answering = false;
    runFor(5000);
    std::printf("after a 5 s outage, the first reply shown %.1f ms after it arrived\n",
                firstReplyAfter());
}

void flood()
{
    for (int round = 1; round <= 5; ++round) {
        IcmpResponder responder(icmp::Family::V4, [](uint16_t) { return Action{.delayMs = 2}; });
        IcmpFlood flood(icmp::Family::V4, 1'000'000, std::chrono::seconds(5),
                        IcmpFlood::Requests::LeftOut);
        LiveWindow run({}, LiveWindow::v4Socket(SocketKind::Raw));
        run.start("127.0.0.1", 10);
        runFor(1500);
        run.window.Command1_Click();
        runFor(2500);
        int answered = 0;
        for (int seq = 1; seq <= 200; ++seq)
            answered += responder.answeredAtNs(uint16_t(seq)).has_value();
        std::printf(
            "raw socket at 10 ms for 1.5 s, %ld foreign ICMP messages in 4 s: %d answered, %lld "
            "shown, %d miscounted\n",
            flood.sent(), answered, static_cast<long long>(run.handedOver.size()),
            answered - int(run.handedOver.size()));
    }
}

void patience()
{
    const auto settle = [](const char *path, IcmpResponder::Script script) {
        std::optional<IcmpResponder> responder;
        if (script)
            responder.emplace(icmp::Family::V4, script);
        kernelEcho(!script);
        LiveWindow run;
        run.start("127.0.0.1", 50);
        runFor(10'000);
        std::printf("patience on %s: %.1f ms (%d red bars)\n", path,
                    std::chrono::duration<double, std::milli>(run.engine.currentPatience()).count(),
                    run.redBars());
        kernelEcho(false);
    };
    std::mt19937 random(3);
    settle("a clean loopback", nullptr);
    settle("20 +- 15 ms", [&](uint16_t) { return Action{.delayMs = 5 + int(random() % 31)}; });
    settle("200 +- 150 ms", [&](uint16_t) { return Action{.delayMs = 50 + int(random() % 301)}; });
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kernelEcho(false);
    randomLoss();
    outage();
    flood();
    patience();
    return 0;
}
