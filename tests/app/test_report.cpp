// The report of a run as a user saves it: the window on the real engine
// against a scripted host in a network namespace of the test's own
// (in-netns.sh), Ctrl+S, Enter in the dialog, and the page opened in a real
// browser (Debian's chromium, headless).
#include "LiveWindow.h"
#include "ReportSaver.h"

#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fstream>

namespace {
using Action = IcmpResponder::Action;

QString read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The columns of `area` in `image` in which some pixel passes `is`.
QList<int> columnsWhere(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &is)
{
    QList<int> found;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (is(image.pixel(x, y))) {
                found << x;
                break;
            }
    return found;
}
// The report's save dialog, once it shows.
QFileDialog *openDialog(const QWidget &window)
{
    for (auto *dialog : window.findChildren<QFileDialog *>("reportDialog"))
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}
} // namespace

class TestReport : public QObject {
    Q_OBJECT

    QTemporaryDir home_;

  private slots:
    void initTestCase()
    {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1;
        // The user's documents, where the dialog opens.
        QVERIFY(QDir(home_.path()).mkpath("Documents"));
        qputenv("HOME", home_.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
    }

    void aRunIsSavedAsAPageAndItsRows()
    {
        std::atomic<bool> silent = false;
        IcmpResponder responder(icmp::Family::V4, [&](uint16_t seq) {
            return Action{.drop = silent || seq % 29 == 7, .delayMs = 20 + seq % 7};
        });
        QVERIFY(responder.ok());
        LiveWindow w;
        ReportSaver reports(w.window);
        w.window.show();
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.start("127.0.0.1", 100);
        waitUntil([] { return false; }, 8000);
        silent = true;
        waitUntil([] { return false; }, 3000);
        silent = false;
        waitUntil([] { return false; }, 4000);
        w.window.Command1_Click();
        QVERIFY(waitUntil(
            [&] { return w.handedOver.size() + w.lost.size() >= w.window.sentCount(); }, 5000));

        // Ctrl+S opens the dialog and changes nothing else.
        QStringList before;
        for (const char *name : {"HostName", "SendLabel", "RecvLabel", "LossLabel", "cping"})
            before << w.window.findChild<QWidget *>(name)->property("text").toString();
        QTest::keyClick(&w.window, Qt::Key_S, Qt::ControlModifier);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog(w.window)));
        QStringList after;
        for (const char *name : {"HostName", "SendLabel", "RecvLabel", "LossLabel", "cping"})
            after << w.window.findChild<QWidget *>(name)->property("text").toString();
        QCOMPARE(after, before);
        const QString documents = home_.path() + "/Documents";
        QCOMPARE(dialog->directory().absolutePath(), documents);
        // Enter where the dialog takes the file's name, as typed.
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY(name);
        QVERIFY(name->text().startsWith("lagoscope-127.0.0.1-"));
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(QDir(documents).entryList(QDir::Files).size() == 2);

        const QStringList files = QDir(documents).entryList(QDir::Files);
        qInfo() << "saved:" << files;
        QVERIFY(files[0].contains(
            QRegularExpression("^lagoscope-127\\.0\\.0\\.1-\\d{8}-\\d{6}\\.csv$")));
        QCOMPARE(files[1], QString(files[0]).replace(".csv", ".html"));

        // The rows add up to the window's counts.
        const QStringList rows = read(documents + '/' + files[0]).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows[0], "time,sent,answered,lost,min_ms,median_ms,max_ms");
        double sent = 0;
        double answered = 0;
        for (const QString &row : rows.mid(1)) {
            const QStringList cells = row.split(',');
            QCOMPARE(cells.size(), 7);
            QVERIFY2(QDateTime::fromString(cells[0], Qt::ISODate).isValid() &&
                         cells[0].contains(QRegularExpression("([+-]\\d\\d:\\d\\d|Z)$")),
                     qPrintable(cells[0]));
            sent += cells[1].toDouble();
            answered += cells[2].toDouble();
            QCOMPARE(cells[4].isEmpty(), cells[2] == "0");
        }
        QCOMPARE(sent, w.window.sentCount());
        QCOMPARE(answered, w.window.recvCount());

        // The page: one outage, of about 3 s, and nothing from elsewhere.
        const QString html = read(documents + '/' + files[1]);
        const QString outages = html.section("<table id=\"outages\">", 1).section("</table>", 0, 0);
        QVERIFY(outages.contains("<thead>"));
        const QString body = outages.section("<tbody>", 1).section("</tbody>", 0, 0);
        QCOMPARE(body.count("<tr>"), 1);
        const auto duration = QRegularExpression("<td class=\"n\">([0-9.]+) s</td>").match(body);
        QVERIFY2(duration.hasMatch(), qPrintable(body));
        qInfo("the outage lasted %s s", qPrintable(duration.captured(1)));
        QVERIFY(duration.captured(1).toDouble() >= 2.5 && duration.captured(1).toDouble() <= 4.5);
        for (const char *fetches : {"src=", "href=", "url(", "@import", "<script", "<link"})
            QVERIFY2(!html.contains(fetches, Qt::CaseInsensitive), fetches);
        QVERIFY(html.contains("<svg id=\"graph\""));

        // A folder that takes no files (a file, even for root), as a dialog
        // that does not check might hand it over: the window says so, in a line.
        QFile notes(documents + "/notes");
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        QTest::keyClick(&w.window, Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY((dialog = openDialog(w.window)));
        emit dialog->fileSelected(documents + "/notes/report.html");
        dialog->reject();
        QTRY_VERIFY(!w.failureLine().isEmpty());
        qInfo("the failure line: %s", qPrintable(w.failureLine()));
        QVERIFY(w.failureLine().startsWith("Cannot save the report: " + documents +
                                           "/notes/report.html: "));
        QVERIFY(!w.failureLine().contains('\n'));
        QCOMPARE(QDir(documents).entryList(QDir::Files).size(), 3);

        // In a browser: the median's green along the plot, red where the
        // outage was, as far into the run as it came.
        const QString shot = QDir::current().absoluteFilePath("report.png");
        QFile::remove(shot);
        QProcess chromium;
        chromium.start("chromium",
                       {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                        "--no-first-run", "--disable-background-networking",
                        "--disable-component-update", "--disable-sync",
                        "--user-data-dir=" + home_.path() + "/chromium", "--hide-scrollbars",
                        "--window-size=900,1100", "--screenshot=" + shot,
                        QUrl::fromLocalFile(documents + '/' + files[1]).toString()});
        QVERIFY(chromium.waitForFinished(60000));
        const QImage page(shot);
        QVERIFY2(!page.isNull(), chromium.readAllStandardError().constData());
        // The plot's frame, drawn crisp in its bluish grey.
        QRect plot;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (page.pixel(x, y) == qRgb(0x88, 0x99, 0xAA))
                    plot |= QRect(x, y, 1, 1);
        QVERIFY(plot.width() > 300 && plot.height() > 100);
        const QRect inside = plot.adjusted(1, 1, -1, -1);
        const QList<int> green = columnsWhere(page, inside, [](QRgb c) {
            return qGreen(c) > 150 && qRed(c) < 100 && qBlue(c) < 100; // the line, smoothed
        });
        const QList<int> red =
            columnsWhere(page, inside, [](QRgb c) { return c == qRgb(0xC0, 0, 0); });
        QVERIFY(!green.isEmpty() && !red.isEmpty());
        const double left = plot.left();
        const double width = plot.width();
        const auto at = [&](int x) { return (x - left) / width; };
        qInfo("plot %d x %d px; green from %.2f to %.2f of it; red from %.2f to %.2f", plot.width(),
              plot.height(), at(green.first()), at(green.last()), at(red.first()), at(red.last()));
        // 8 s of answers, then 3 s of silence, in a run of 15 s: the
        // outage's pale band about there; its losses, handed over up to a
        // timeout later, the widest run of red columns, from the band on.
        QVERIFY2(at(green.first()) < 0.1 && at(green.last()) > 0.9,
                 qPrintable("the last rows:\n" + rows.mid(rows.size() - 4).join('\n')));
        const QList<int> band = columnsWhere(page, inside, [](QRgb c) {
            return std::abs(qRed(c) - 242) < 4 && std::abs(qGreen(c) - 204) < 4;
        });
        QVERIFY(!band.isEmpty());
        const double bandMiddle = at((band.first() + band.last()) / 2);
        int runStart = 0;
        int widest = 0;
        int widestStart = 0;
        for (int i = 1; i <= red.size(); ++i)
            if (i == red.size() || red[i] != red[i - 1] + 1) {
                if (i - runStart > widest) {
                    widest = i - runStart;
                    widestStart = red[runStart];
                }
                runStart = i;
            }
        qInfo("the outage's band from %.2f to %.2f of the plot; the widest red run from %.2f, "
              "%d px",
              at(band.first()), at(band.last()), at(widestStart), widest);
        QVERIFY(bandMiddle > 0.4 && bandMiddle < 0.75);
        QVERIFY(widestStart >= band.first() - 2 && at(widestStart) <= at(band.last()) + 0.05);
    }
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
