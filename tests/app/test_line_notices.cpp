// The notices for a host that still answers, slowly or with losses, as a
// user gets them: the window on the real engine against a scripted host on
// the loopback of a network namespace of the test's own (in-netns.sh), its
// tray, and a real notification server (dunst) on the display and private
// bus that with-desktop.sh gives, at the default interval.
#include "DesktopServices.h"
#include "LiveWindow.h"
#include "Program.h"
#include "TrayStatus.h"

#include <QScreen>
#include <QTest>

#include <atomic>
#include <fstream>
#include <random>

namespace {
using Action = IcmpResponder::Action;

// Waits in the event loop, so that replies keep coming, for `ms`.
void pass(int ms)
{
    waitUntil([] { return false; }, ms);
}
} // namespace

class TestLineNotices : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        if (!QFile::exists("/usr/bin/dunst"))
            QSKIP("the notification server is not installed (scripts/deps.sh test)");
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1;
        Program::nameApplication();
    }

    void slowAndLossyLinesAreNotifiedOnceEach()
    {
        NotificationServer server;
        QVERIFY(server.serves());
        std::atomic<int> delayMs = 20;
        std::atomic<int> dropPercent = 0;
        std::mt19937 random(11); // the responder's thread alone draws
        IcmpResponder responder(icmp::Family::V4, [&](uint16_t) {
            return Action{.drop = int(random() % 100) < dropPercent, .delayMs = delayMs};
        });
        QVERIFY(responder.ok());
        LiveWindow w;
        TrayStatus tray(w.window);
        QWidget elsewhere; // the window the user is looking at instead
        QVERIFY(lookElsewhere(elsewhere));
        NotificationLog log;
        const QElapsedTimer &clock = log.clock;
        const auto told = [&] {
            QStringList all;
            for (const auto &n : log.notices)
                all << QString("%1 ms: \"%2\" (\"%3\")").arg(n.atMs).arg(n.summary, n.body);
            return all.join("; ").toUtf8();
        };
        // Waits up to `withinMs` after `since` for a notice about `what`.
        const auto noticeOf = [&](const QString &what, qint64 since, int withinMs) {
            waitUntil([&] { return !log.about(what).isEmpty(); },
                      int(since + withinMs - clock.elapsed()));
            const auto found = log.about(what);
            if (found.size() == 1) {
                qInfo("\"%s\" %lld ms after the change: %s", qPrintable(found[0].summary),
                      found[0].atMs - since, qPrintable(found[0].body));
                // What the server drew, kept beside the test.
                pass(500);
                QGuiApplication::primaryScreen()->grabWindow(0).save(
                    QString("notice-%1.png").arg(QString(what).trimmed().replace(' ', '-')));
            }
            return found;
        };
        w.start("127.0.0.1", 100);

        // A usual line with a lone spike says nothing.
        pass(20000);
        delayMs = 600;
        pass(500);
        delayMs = 20;
        pass(14500);
        QVERIFY2(log.notices.isEmpty(), told().constData());

        delayMs = 400;
        qint64 changed = clock.elapsed();
        const auto slow = noticeOf(" is slow", changed, 12000);
        QVERIFY2(slow.size() == 1, told().constData());
        QVERIFY(slow[0].body.startsWith("Median round trip "));
        QVERIFY2(slow[0].body.contains(
                     QRegularExpression(" ms over the last 10 s; usually 2\\d ms\\.$")),
                 qPrintable(slow[0].body));
        pass(int(changed + 25000 - clock.elapsed()));
        QVERIFY2(log.about(" is slow").size() == 1, told().constData());

        delayMs = 20;
        changed = clock.elapsed();
        const auto fast = noticeOf(" is fast again", changed, 12000);
        QVERIFY2(fast.size() == 1, told().constData());
        QCOMPARE(fast[0].summary, "127.0.0.1 is fast again");
        const uint slowId = log.about(" is slow")[0].id; // the server answers after the call
        QVERIFY(slowId != 0);
        QCOMPARE(fast[0].replaces, slowId);

        dropPercent = 15;
        changed = clock.elapsed();
        const auto losing = noticeOf(" is losing replies", changed, 15000);
        QVERIFY2(losing.size() == 1, told().constData());
        QVERIFY(losing[0].body.endsWith(" % of the requests of the last 20 s lost."));
        pass(int(changed + 30000 - clock.elapsed()));
        dropPercent = 0;
        changed = clock.elapsed();
        const auto clean = noticeOf(" no longer loses replies", changed, 25000);
        QVERIFY2(clean.size() == 1, told().constData());
        QCOMPARE(clean[0].replaces, log.about(" is losing replies")[0].id);
        pass(1000);
        QVERIFY2(log.notices.size() == 4, told().constData());
        QCOMPARE(log.about(" stopped answering").size(), 0);

        // The same while the user looks at the window: nothing.
        w.window.show();
        w.window.activateWindow();
        QTRY_VERIFY(w.window.isActiveWindow());
        delayMs = 400;
        dropPercent = 15;
        pass(15000); // both would be told within 10 s
        QVERIFY2(log.notices.size() == 4, told().constData());
        w.window.Command1_Click();
    }
};

QTEST_MAIN(TestLineNotices)
#include "test_line_notices.moc"
