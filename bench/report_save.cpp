// A day of 100 requests a second, round trips all over the scale and one
// request in fifty lost, with an outage an hour: what the record takes in
// memory, and how long saving its report takes and how large it is.
// lagoscope-bench-report [folder]
#include "RunReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <random>

int main(int argc, char **argv)
{
    using namespace std::chrono_literals;
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? argv[1] : QDir::tempPath();
    RunRecord record;
    const auto t0 = RunRecord::Clock::now();
    const auto w0 = RunRecord::Wall::now() - 24h;
    record.start(t0, w0);
    std::mt19937 random(3);
    for (int i = 0; i < 100 * 24 * 3600; ++i) {
        const auto at = i * 10ms;
        record.requestSent(t0 + at);
        if (i % 50 == 7 || i % 360'000 < 500) // and 5 s of silence each hour
            record.lost(t0 + at, 10ms);
        else
            record.answered(t0 + at, w0 + at, int32_t(5 + random() % 400));
    }
    RunFigures figures;
    figures.host = "bench.example";
    figures.address = "192.0.2.1";
    const QString html = folder + "/lagoscope-bench-report.html";
    QElapsedTimer clock;
    clock.start();
    QString error;
    if (!saveReport(record, figures, html, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const qint64 ms = clock.elapsed();
    const QString csv = folder + "/lagoscope-bench-report.csv";
    std::printf("record-mb %.2f save-ms %lld html-mb %.2f csv-mb %.2f outages %zu\n",
                record.bytes() / 1e6, static_cast<long long>(ms), QFileInfo(html).size() / 1e6,
                QFileInfo(csv).size() / 1e6, record.outages().size());
    QFile::remove(html);
    QFile::remove(csv);
    return 0;
}
