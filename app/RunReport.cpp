#include "RunReport.h"

#include "LagBars.h"
#include "NumberText.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using Wall = RunRecord::Wall;

// The plot's box within the graph's view box.
constexpr double plotLeft = 60;
constexpr double plotRight = 990;
constexpr double plotTop = 10;
constexpr double plotBottom = 230;
constexpr int mostColumns = 465; // two units of the view box each

QDateTime local(Wall::time_point t)
{
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

QString when(Wall::time_point t)
{
    return local(t).toString("yyyy-MM-dd HH:mm:ss");
}

// Times in ISO 8601 with the UTC offset in force then ("+01:00"), which is
// asked of the system once a minute: offsets change on whole minutes only.
class IsoTimes {
  public:
    QByteArray operator()(Wall::time_point t)
    {
        using namespace std::chrono;
        const auto second = floor<seconds>(t);
        if (!asked_ || second - *asked_ >= minutes(1) || second < *asked_) {
            asked_ = second;
            offset_ = local(t).offsetFromUtc();
        }
        const auto here = second + seconds(offset_);
        const auto day = floor<days>(here);
        const year_month_day date(day);
        const hh_mm_ss time(here - day);
        const int away = std::abs(offset_) / 60;
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d",
                      int(date.year()), unsigned(date.month()), unsigned(date.day()),
                      int(time.hours().count()), int(time.minutes().count()),
                      int(time.seconds().count()), offset_ < 0 ? '-' : '+', away / 60, away % 60);
        return text;
    }

  private:
    std::optional<std::chrono::sys_seconds> asked_;
    int offset_ = 0;
};

QString lasting(std::chrono::milliseconds d)
{
    const qint64 s = d.count() / 1000;
    if (s < 60)
        return QString::number(double(d.count()) / 1000, 'f', 1) + " s";
    if (s < 3600)
        return QString("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QString("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

// Rounded as the window rounds its figures.
template <typename T> QString ms(const std::optional<T> &value)
{
    return value ? QString::fromStdString(msText(roundToInt32(double(*value)))) : QString("\u2014");
}

QString colour(uint32_t rgb)
{
    return QString("#%1").arg(rgb & 0xFFFFFF, 6, 16, QChar('0')).toUpper();
}

// The lowest of 1, 2 and 5 times a power of ten at or above `ms`.
double niceCeiling(double ms)
{
    double scale = 10;
    while (true)
        for (const double step : {1.0, 2.0, 5.0})
            if (step * scale >= ms)
                return step * scale;
            else if (step == 5.0)
                scale *= 10;
}

struct Column {
    RoundTripHistogram roundTrips;
    uint32_t handedOver = 0;
    uint32_t lost = 0;
};

// The whole run as a graph: per column of time the median and the 95th
// percentile of its round trips, its share of losses as a red bar from the
// bottom, and each outage as a pale red band.
QString graph(const RunRecord &record)
{
    const Wall::time_point from = record.began();
    const auto span = std::max<Wall::duration>(record.ended() - from, std::chrono::seconds(1));
    // No more columns than rows, so that each has some.
    int rows = 0;
    record.forEachRow([&](const RunRecord::Row &) { ++rows; });
    const int columns = std::clamp(rows, 1, mostColumns);
    const auto columnOf = [&](Wall::time_point t) {
        return std::clamp(int(double((t - from).count()) / double(span.count()) * columns), 0,
                          columns - 1);
    };
    const auto xOf = [&](double column) {
        return plotLeft + column * (plotRight - plotLeft) / columns;
    };
    std::vector<Column> cells(columns);
    record.forEachRow([&](const RunRecord::Row &row) {
        Column &cell = cells[size_t(columnOf(row.at))];
        cell.roundTrips.add(row.roundTrips);
        cell.handedOver += row.totals.answered + row.totals.lost;
        cell.lost += row.totals.lost;
    });
    double top = 10;
    for (const Column &cell : cells)
        top = std::max(top, double(cell.roundTrips.percentile(0.95).value_or(0)));
    top = niceCeiling(top);
    const auto yOf = [&](double ms) {
        return plotBottom - std::min(ms, top) / top * (plotBottom - plotTop);
    };

    QString svg = QString("<svg id=\"graph\" viewBox=\"0 0 1000 260\" role=\"img\" "
                          "aria-label=\"Round trips over the run\">\n"
                          "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"plot\"/>\n")
                      .arg(plotLeft)
                      .arg(plotTop)
                      .arg(plotRight - plotLeft)
                      .arg(plotBottom - plotTop);
    const QString red = colour(lossRgb);
    for (const RunRecord::Outage &outage : record.outages()) {
        const double left = xOf(columnOf(outage.from));
        const double right = xOf(columnOf(outage.to.value_or(record.ended())) + 1);
        svg += QString("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\" "
                       "fill-opacity=\"0.2\"/>\n")
                   .arg(left, 0, 'f', 1)
                   .arg(plotTop)
                   .arg(right - left, 0, 'f', 1)
                   .arg(plotBottom - plotTop)
                   .arg(red);
    }
    for (int c = 0; c < columns; ++c) {
        const Column &cell = cells[size_t(c)];
        if (cell.lost == 0)
            continue;
        const double height = double(cell.lost) / cell.handedOver * (plotBottom - plotTop);
        svg += QString("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                   .arg(xOf(c), 0, 'f', 1)
                   .arg(plotBottom - height, 0, 'f', 1)
                   .arg(xOf(c + 1) - xOf(c), 0, 'f', 1)
                   .arg(height, 0, 'f', 1)
                   .arg(red);
    }
    // A line through the columns with replies.
    const auto line = [&](double fraction, const QString &stroke, double width) {
        QString path;
        for (int c = 0; c < columns; ++c) {
            if (const auto value = cells[size_t(c)].roundTrips.percentile(fraction))
                path += QString("%1%2 %3 ")
                            .arg(path.isEmpty() ? "M" : "L")
                            .arg(xOf(c + 0.5), 0, 'f', 1)
                            .arg(yOf(*value), 0, 'f', 1);
        }
        return QString("<path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\" "
                       "stroke-linejoin=\"round\"/>\n")
            .arg(path.trimmed(), stroke)
            .arg(width);
    };
    svg += line(0.95, "#8FD88F", 1.5);
    svg += line(0.5, colour(timeRgb), 2);
    for (const double ms : {0.0, top / 2, top})
        svg += QString("<text x=\"%1\" y=\"%2\" class=\"scale\">%3 ms</text>\n")
                   .arg(plotLeft - 6)
                   .arg(yOf(ms) + 4, 0, 'f', 1)
                   .arg(ms);
    svg += QString("<text x=\"%1\" y=\"252\">%2</text>\n<text x=\"%3\" y=\"252\" "
                   "class=\"end\">%4</text>\n</svg>\n")
               .arg(plotLeft)
               .arg(when(from))
               .arg(plotRight)
               .arg(when(record.ended()));
    return svg;
}

const char *const style = R"(@page { size: A4; margin: 15mm; }
body { font: 10pt/1.4 sans-serif; color: #222; max-width: 180mm; margin: 1em auto; }
h1 { font-size: 15pt; margin-bottom: 0; }
h2 { font-size: 12pt; margin: 1.2em 0 0.3em; }
table { border-collapse: collapse; }
th, td { padding: 2px 12px 2px 0; text-align: left; border-bottom: 1px solid #ddd; }
td.n { text-align: right; }
svg { width: 100%; height: auto; font-size: 11px; }
.plot { fill: #fff; stroke: #8899AA; stroke-width: 1px; vector-effect: non-scaling-stroke; }
rect { shape-rendering: crispEdges; }
.scale { text-anchor: end; }
.end { text-anchor: end; }
.legend span { display: inline-block; width: 2em; height: 0.4em; margin: 0 0.3em 0.1em 1em; }
)";

} // namespace

QByteArray reportHtml(const RunRecord &record, const RunFigures &figures)
{
    RunRecord::Totals totals;
    RoundTripHistogram roundTrips;
    record.forEachRow([&](const RunRecord::Row &row) {
        totals.add(row.totals);
        roundTrips.add(row.roundTrips);
    });
    const QString host = QString::fromStdString(figures.host).toHtmlEscaped();
    const QString address = QString::fromStdString(figures.address).toHtmlEscaped();
    const uint32_t handedOver = totals.answered + totals.lost;
    const auto least = totals.answered ? std::optional(totals.least) : std::nullopt;
    const auto most = totals.answered ? std::optional(totals.most) : std::nullopt;

    QString page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += QString("<title>Lagoscope report: %1</title>\n<style>\n%2</style>\n</head>\n<body>\n")
                .arg(host, style);
    page += QString("<h1>Lagoscope report: %1</h1>\n").arg(host);
    page += QString("<p>Host %1%2, from %3 to %4 (%5).</p>\n")
                .arg(host, address.isEmpty() ? QString() : " (" + address + ")",
                     when(record.began()), when(record.ended()),
                     lasting(std::chrono::duration_cast<std::chrono::milliseconds>(
                         record.ended() - record.began())));
    page += "<table id=\"figures\">\n";
    const auto row = [&](const QString &name, const QString &value) {
        page += QString("<tr><th>%1</th><td class=\"n\">%2</td></tr>\n").arg(name, value);
    };
    row("Requests sent", QString::number(totals.sent));
    row("Answered", QString::number(totals.answered));
    row("Lost", QString::number(totals.lost));
    row("Loss", handedOver ? QString::number(100.0 * totals.lost / handedOver, 'f', 1) + " %"
                           : QString("\u2014"));
    row("Minimum", ms(least));
    row("Median", ms(roundTrips.percentile(0.5)));
    row("Mean", ms(record.meanMs()));
    row("95th percentile", ms(roundTrips.percentile(0.95)));
    row("99th percentile", ms(roundTrips.percentile(0.99)));
    row("Maximum", ms(most));
    row("Jitter", ms(record.jitterMs()));
    page += "</table>\n<h2>Round trips</h2>\n";
    page += QString("<p class=\"legend\"><span style=\"background: %1\"></span>median"
                    "<span style=\"background: #8FD88F\"></span>95th percentile"
                    "<span style=\"background: %2\"></span>lost, and outages</p>\n")
                .arg(colour(timeRgb), colour(lossRgb));
    page += graph(record);
    page += "<h2>Outages</h2>\n<table id=\"outages\">\n<thead><tr><th>Start</th><th>End</th>"
            "<th>Duration</th><th>Requests lost</th></tr></thead>\n<tbody>\n";
    for (const RunRecord::Outage &outage : record.outages())
        page += QString("<tr><td>%1</td><td>%2</td><td class=\"n\">%3</td><td "
                        "class=\"n\">%4</td></tr>\n")
                    .arg(when(outage.from), outage.to ? when(*outage.to) : QString("going on"),
                         outage.to ? lasting(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         outage.silent))
                                   : QString("\u2014"))
                    .arg(outage.lost);
    page += "</tbody>\n</table>\n</body>\n</html>\n";
    return page.toUtf8();
}

QByteArray reportCsv(const RunRecord &record)
{
    QByteArray csv = "time,sent,answered,lost,min_ms,median_ms,max_ms\n";
    IsoTimes iso;
    record.forEachRow([&](const RunRecord::Row &row) {
        const RunRecord::Totals &t = row.totals;
        csv += iso(row.at) + ',' + QByteArray::number(t.sent) + ',' +
               QByteArray::number(t.answered) + ',' + QByteArray::number(t.lost) + ',';
        if (t.answered)
            csv += QByteArray::number(t.least) + ',' +
                   QByteArray::number(*row.roundTrips.percentile(0.5)) + ',' +
                   QByteArray::number(t.most);
        else
            csv += ",,";
        csv += '\n';
    });
    return csv;
}

bool saveReport(const RunRecord &record, const RunFigures &figures, const QString &htmlPath,
                QString &error)
{
    QString csvPath = htmlPath;
    if (csvPath.endsWith(".html", Qt::CaseInsensitive))
        csvPath.chop(5);
    csvPath += ".csv";
    for (const auto &[path, contents] : {std::pair{htmlPath, reportHtml(record, figures)},
                                         std::pair{csvPath, reportCsv(record)}}) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() ||
            !file.commit()) {
            error = path + ": " + file.errorString();
            return false;
        }
    }
    return true;
}
