// The tray's tooltip where the system cuts tooltips short (Windows: 127
// characters): what is least needed goes first, and nothing is cut blindly.
#include "TrayStatus.h"

#include <QTest>

namespace {
const QList<ToolTipLine> full{{"Lagoscope: 127.0.0.1", 0},
                              {"Current ping: 5 ms", 1},
                              {"Average ping: 6 ms", 5},
                              {"Loss: 0 % total, 0 % in last 37 seconds", 2},
                              {"Jitter: 1 ms, 95th percentile: 9 ms", 4},
                              {"Gateway 192.168.100.254: 2 ms, 0 % lost", 3}};
} // namespace

class TestTrayText : public QObject {
    Q_OBJECT

  private slots:
    void aTooltipThatFitsIsWhole()
    {
        QCOMPARE(fittedToolTip(full, 0).count('\n'), 5);
        QCOMPARE(fittedToolTip(full.mid(0, 2), 127), "Lagoscope: 127.0.0.1\nCurrent ping: 5 ms");
    }

    void theLeastNeededLinesGoFirst()
    {
        const QString tip = fittedToolTip(full, 127);
        QVERIFY(tip.size() <= 127);
        QCOMPARE(tip, "Lagoscope: 127.0.0.1\nCurrent ping: 5 ms\nLoss: 0 % total, 0 % in last 37 "
                      "seconds\nGateway 192.168.100.254: 2 ms, 0 % lost");
    }

    void aLongHostIsShortenedInTheMiddle()
    {
        QList<ToolTipLine> lines = full;
        lines[0].text = "Lagoscope: " + QString(60, 'a') + ".example.com";
        const QString tip = fittedToolTip(lines, 127);
        QVERIFY(tip.size() <= 127);
        const QString host = tip.section('\n', 0, 0);
        QCOMPARE(host.size(), 40);
        QVERIFY(host.startsWith("Lagoscope: aaa") && host.contains(QChar(0x2026)) &&
                host.endsWith("example.com"));
        QCOMPARE(tip.section('\n', 1),
                 "Current ping: 5 ms\nLoss: 0 % total, 0 % in last 37 seconds");
        // Nothing but a host too long for any tooltip: shortened to fit.
        QCOMPARE(fittedToolTip({{QString(300, 'h'), 0}}, 127).size(), 127);
    }
};

QTEST_MAIN(TestTrayText)
#include "test_tray_text.moc"
