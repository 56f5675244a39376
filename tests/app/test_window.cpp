#include "CommandLine.h"
#include "WindowProbe.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

#include <cerrno>

namespace {
const QStringList loadWrites{"interval=100", "synchronous=true", "running=false", "timeout=2000",
                             "dontFragment=false"};

int textWidth(const QWidget *w, const QString &text)
{
    QString shown = text;
    shown.remove('&');
    return QFontMetrics(w->font()).horizontalAdvance(shown);
}
} // namespace

class TestWindow : public QObject {
    Q_OBJECT

  private slots:
    // Each value is tied to its caption, names stay the texts shown, the loss
    // values are described by their tooltips, and the graph sums itself up.
    void screenReadersHearWhatTheWindowShows()
    {
        WindowProbe p("h");
        p.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.window.get()));
        const auto accessible = [&](const char *name) {
            return QAccessible::queryAccessibleInterface(p.control<QWidget>(name));
        };
        const std::pair<const char *, const char *> pairs[] = {
            {"Label2", "SendLabel"}, {"Label4", "RecvLabel"}, {"Label5", "LossLabel"},
            {"Label3", "avping"},    {"Label6", "cping"},     {"Label8", "wndLoss"}};
        for (auto [caption, value] : pairs) {
            const auto labels = accessible(value)->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels[0].first->object(), p.control(caption));
            const auto labelled = accessible(caption)->relations(QAccessible::Labelled);
            QCOMPARE(labelled.size(), 1);
            QCOMPARE(labelled[0].first->object(), p.control(value));
        }
        QCOMPARE(accessible("SendLabel")->text(QAccessible::Name), "0");
        QCOMPARE(accessible("Label2")->text(QAccessible::Name), "Packets Sent:");
        QCOMPARE(accessible("LossLabel")->text(QAccessible::Description), "Packet loss total.");
        QCOMPARE(accessible("wndLoss")->text(QAccessible::Description),
                 "Percent loss in last 37 seconds");

        QAccessibleInterface *graph = nullptr;
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(p.window.get());
        for (int i = 0; i < window->childCount(); ++i)
            if (window->child(i)->role() == QAccessible::Chart)
                graph = window->child(i);
        QVERIFY(graph);
        QCOMPARE(graph->text(QAccessible::Name), "Lag graph");
        QCOMPARE(graph->text(QAccessible::Description), "No samples");
        // The band the graph draws in: from the full-scale row to the bottom
        // of the window, where a negative sample's bar ends.
        QCOMPARE(graph->rect().size(), QSize(376, 45));
        p.engine.reply(1, 23);
        p.engine.reply(4, 31);
        QCOMPARE(graph->text(QAccessible::Description),
                 "Newest round trip 31 ms; 2 lost of 4 samples");

        // Hovering over the band tells how much the round trips vary: the
        // tooltip event, as the application sends it to what lies under a
        // resting pointer (a moved pointer is not reliably seen under Wine).
        const QPoint inBand(200, 90);
        QWidget *under = p.window->childAt(inBand);
        QVERIFY(under);
        QHelpEvent hover(QEvent::ToolTip, under->mapFrom(p.window.get(), inBand),
                         p.window->mapToGlobal(inBand));
        QApplication::sendEvent(under, &hover);
        QTRY_COMPARE(QToolTip::text(), "Jitter: 0 ms, 95th percentile: 31 ms");
    }

    void layoutCaptionsAndTooltips()
    {
        WindowProbe p;
        frmPing &w = *p.window;
        QCOMPARE(w.windowTitle(), "Lagoscope for Windows! Version 1.01");
        QCOMPARE(w.size(), QSize(397, 109));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        // Every control the user sees lies inside the window.
        int shown = 0;
        for (QWidget *child : w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden())
                continue;
            ++shown;
            QVERIFY2(w.rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
        QCOMPARE(shown, 18);
        // Every control where the layout puts it, at its size.
        const std::pair<const char *, QRect> layout[] = {
            {"Label1", {8, 10, 49, 13}},      {"HostName", {64, 8, 233, 19}},
            {"Command1", {304, 8, 89, 17}},   {"Label2", {8, 32, 81, 13}},
            {"SendLabel", {96, 32, 65, 13}},  {"Label4", {168, 32, 59, 13}},
            {"RecvLabel", {232, 32, 65, 13}}, {"Label5", {304, 32, 31, 13}},
            {"LossLabel", {344, 32, 39, 13}}, {"Label3", {8, 48, 80, 13}},
            {"avping", {96, 48, 64, 13}},     {"Label6", {168, 48, 74, 13}},
            {"cping", {248, 48, 65, 13}},     {"Label8", {304, 48, 31, 13}},
            {"wndLoss", {344, 48, 39, 13}},   {"Label7", {72, 72, 265, 17}},
            {"Label9", {96, 88, 225, 17}},    {"Check1", {16, 272, 105, 17}}};
        for (const auto &[name, geometry] : layout)
            QCOMPARE(p.control<QWidget>(name)->geometry(), geometry);
        QCOMPARE(p.text("Label1"), "&IP/Host:");
        QCOMPARE(p.control("Label1")->buddy(), p.hostBox());
        QCOMPARE(p.text("Label2"), "Packets Sent:");
        QCOMPARE(p.text("Label4"), "Received:");
        QCOMPARE(p.text("Label5"), "Loss:");
        QCOMPARE(p.text("Label3"), "Average ping:");
        QCOMPARE(p.text("Label6"), "Current ping:");
        QCOMPARE(p.text("Label8"), "Loss:");
        for (const char *name : {"Label5", "LossLabel"})
            QCOMPARE(p.control(name)->toolTip(), "Packet loss total.");
        for (const char *name : {"Label8", "wndLoss"})
            QCOMPARE(p.control(name)->toolTip(), "Percent loss in last 37 seconds");
        auto *check = p.control<QCheckBox>("Check1");
        QCOMPARE(check->text(), "Synchronous");
        QVERIFY(check->isHidden());
        QVERIFY(!check->isChecked());
        QVERIFY(p.window->font().bold());
        QCOMPARE(p.window->font().pixelSize(), 11);
    }

    void onlyHostBoxAndButtonTakeTheFocusInThatOrder()
    {
        WindowProbe p;
        QList<QWidget *> focusable;
        for (QWidget *child : p.window->findChildren<QWidget *>())
            if (child->focusPolicy() & Qt::TabFocus && !child->isHidden())
                focusable << child;
        QCOMPARE(focusable.size(), 2);
        QCOMPARE(p.hostBox()->nextInFocusChain(), p.button());
    }

    void noTextIsClipped()
    {
        WindowProbe p;
        const std::pair<const char *, QStringList> texts[] = {
            {"Label1", {}},
            {"Label2", {}},
            {"Label4", {}},
            {"Label5", {}},
            {"Label3", {}},
            {"Label6", {}},
            {"Label8", {}},
            {"Label7", {}},
            {"Label9", {}},
            {"SendLabel", {" 9999999"}},
            {"RecvLabel", {" 9999999"}},
            {"LossLabel", {"100 %"}},
            {"avping", {"999 ms"}},
            {"cping", {"99999 ms"}},
            {"wndLoss", {"100 %"}},
        };
        for (const auto &[name, values] : texts) {
            QLabel *label = p.control(name);
            const QStringList shown = values.isEmpty() ? QStringList{label->text()} : values;
            for (const QString &text : shown)
                QVERIFY2(textWidth(label, text) <= label->width(),
                         qPrintable(QString("%1: \"%2\" is %3 px wide")
                                        .arg(name, text)
                                        .arg(textWidth(label, text))));
        }
        for (const char *caption : {"Start", "Stop"})
            QVERIFY(textWidth(p.button(), caption) + 8 <= p.button()->width());
    }

    void theCommandLineIsTakenAsGiven()
    {
        const char *none[] = {"lagoscope"};
        const char *args[] = {"lagoscope", "-platform", "xcb", " spaced ", "h\u00f6st"};
#ifdef Q_OS_WIN
        // Windows: the process's own command line as typed, whatever argv says.
        const QString typed = QCoreApplication::arguments().mid(1).join(' ');
        QCOMPARE(commandLineText(1, none), typed);
        QCOMPARE(commandLineText(5, args), typed);
#else
        QCOMPARE(commandLineText(1, none), "");
        QCOMPARE(commandLineText(5, args), "-platform xcb  spaced  h\u00f6st");
        const char *blank[] = {"lagoscope", ""};
        QCOMPARE(commandLineText(2, blank), "");
#endif

        // As Windows hands it over: one string, the program's name first.
        QCOMPARE(argumentText(u"lagoscope.exe"), "");
        QCOMPARE(argumentText(u"lagoscope.exe   "), "");
        QCOMPARE(argumentText(u"lagoscope.exe host.test"), "host.test");
        QCOMPARE(argumentText(u"lagoscope.exe\t \"a b\"  c "), "\"a b\"  c ");
        QCOMPARE(argumentText(u"\"C:\\Program Files\\lagoscope.exe\" 127.0.0.1"), "127.0.0.1");
        QCOMPARE(argumentText(u"\"C:\\Program Files\\lagoscope.exe\""), "");
        QCOMPARE(argumentText(u"\"C:\\odd\"name.exe h\u00f6st"), "h\u00f6st");
        QCOMPARE(argumentText(u"\"unclosed host"), "");
        QCOMPARE(argumentText(u""), "");
    }

    // Options are asked for before any window; everything else is host text.
    void optionsBeforeTheHostText()
    {
        using R = CommandLineRequest;
        const std::pair<QString, R> cases[] = {{"", R::Run},
                                               {"127.0.0.1", R::Run},
                                               {" host -x", R::Run},
                                               {"--help", R::Help},
                                               {"-h", R::Help},
                                               {"  --help x", R::Help},
                                               {"--version", R::Version},
                                               {"-x", R::UnknownOption},
                                               {"--helpme", R::UnknownOption},
                                               {"-", R::UnknownOption}};
        for (const auto &[text, request] : cases)
            QVERIFY2(commandLineRequest(text) == request, qPrintable(text));
    }

    void startsIdleWithoutAnArgument()
    {
        WindowProbe p;
        QCOMPARE(p.takeWrites(), loadWrites);
        QCOMPARE(p.hostBox()->text(), "");
        QCOMPARE(p.button()->text(), "Start");
        QCOMPARE(p.text("SendLabel"), "0");
        QCOMPARE(p.text("RecvLabel"), "0");
        QCOMPARE(p.text("LossLabel"), "0 %");
        for (const char *name : {"avping", "cping", "wndLoss"})
            QCOMPARE(p.text(name), "");
        QVERIFY(p.creditsShown());
        QCOMPARE(p.beeps, 0);
        for (int i = 1; i <= 376; ++i)
            QCOMPARE(p.window->lagHistory().slot(i), LagHistory::emptyMarker);
        const QImage &drawing = p.window->drawing();
        QCOMPARE(drawing.deviceIndependentSize().toSize(), QSize(397, 109));
        const QRgb background = p.window->palette().color(QPalette::Window).rgb();
        for (int x = 0; x < drawing.width(); x += 3)
            for (int y = 0; y < drawing.height(); ++y)
                QCOMPARE(drawing.pixel(x, y), background);
    }

    void anArgumentStartsPingingAtOnce()
    {
        WindowProbe p("  127.0.0.1 ");
        const QStringList start{"host=\"127.0.0.1\"", "running=true", "synchronous=false"};
        QCOMPARE(p.takeWrites(), loadWrites + start);
        QCOMPARE(p.hostBox()->text(), "  127.0.0.1 ");
        QCOMPARE(p.button()->text(), "Stop");
        QVERIFY(!p.creditsShown());
        QCOMPARE(p.beeps, 0);
    }

    void focusIsInTheHostBoxWhenFirstShown()
    {
        for (const QString &argument : {QString(), QString(" ::1 ")}) {
            WindowProbe p(argument);
            p.window->show();
            QVERIFY(QTest::qWaitForWindowActive(p.window.get()));
            QCOMPARE(QApplication::focusWidget(), p.hostBox());
            QCOMPARE(p.hostBox()->text(), argument.trimmed());
            QCOMPARE(p.hostBox()->selectedText(), argument.trimmed());
        }
    }

    void emptyHostOnlyBeeps()
    {
        WindowProbe p;
        p.takeWrites();
        p.window->Command1_Click();
        QCOMPARE(p.beeps, 1);
        QVERIFY(p.takeWrites().isEmpty());
        QVERIFY(p.creditsShown());
        QCOMPARE(p.button()->text(), "Start");
    }

    void blankHostPassesTheCheckAndIsHandedOverTrimmed()
    {
        WindowProbe p;
        p.takeWrites();
        p.hostBox()->setText("   ");
        QTest::mouseClick(p.button(), Qt::LeftButton);
        QCOMPARE(p.beeps, 0);
        QCOMPARE(p.takeWrites(), (QStringList{"host=\"\"", "running=true", "synchronous=false"}));
        QVERIFY(!p.creditsShown());
        QCOMPARE(p.button()->text(), "Stop");
        // Only spaces are trimmed: a tab belongs to the host text.
        p.window->Command1_Click();
        p.hostBox()->setText(" \tx ");
        p.takeWrites();
        p.window->Command1_Click();
        QCOMPARE(p.takeWrites().first(), "host=\"\tx\"");
    }

    void theEngineStateDecidesBetweenStartAndStop()
    {
        WindowProbe p;
        p.hostBox()->setText("::1");
        p.takeWrites();
        p.window->Command1_Click();
        QCOMPARE(p.takeWrites(),
                 (QStringList{"host=\"::1\"", "running=true", "synchronous=false"}));
        p.window->Command1_Click();
        QCOMPARE(p.takeWrites(), (QStringList{"running=false", "restart=true"}));
        QCOMPARE(p.button()->text(), "Start");
        p.window->Command1_Click();
        p.takeWrites();
        // Should the engine be off without saying so, the next press still
        // starts: its state decides, never the caption.
        p.engine.stopByItself();
        QCOMPARE(p.button()->text(), "Stop");
        p.window->Command1_Click();
        QCOMPARE(p.takeWrites(),
                 (QStringList{"host=\"::1\"", "running=true", "synchronous=false"}));
        QCOMPARE(p.button()->text(), "Stop");
    }

    // What went wrong shows on one line where the credit lines stand,
    // moving no control, for screen readers too, until a request goes out
    // without it, a reply comes or Start. When the engine gives up, the button offers Start.
    void failuresShowInTheWindow()
    {
        WindowProbe p;
        QList<QRect> layout;
        for (QWidget *child : p.window->findChildren<QWidget *>())
            layout << child->geometry();
        auto *line = p.control("failureLine");
        const auto shown = [&] { return line->isVisible() ? line->text() : QString(); };
        p.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.window.get()));

        p.hostBox()->setText("slow.test");
        p.window->Command1_Click();
        p.engine.fail(EchoFailure::NameServerSilent, 0);
        QCOMPARE(shown(), "Looking up name\u2026 (no answer from the name server yet)");
        QCOMPARE(line->accessibleDescription(), line->text());
        QCOMPARE(p.button()->text(), "Stop"); // the engine keeps asking
        QVERIFY(QRect(0, 64, 397, 45).contains(line->geometry()));
        p.engine.sent(); // and no failure with it
        QCOMPARE(shown(), "Looking up name\u2026 (no answer from the name server yet)");
        QTRY_COMPARE(shown(), "");

        const int beeps = p.beeps;
        p.engine.giveUp(EchoFailure::ResolveFailed, 0);
        QCOMPARE(shown(), "Cannot find host slow.test");
        QCOMPARE(p.button()->text(), "Start");
        QCOMPARE(p.beeps, beeps + 1);
        p.window->Command1_Click(); // starts again, as the caption says
        QCOMPARE(p.button()->text(), "Stop");
        QCOMPARE(shown(), "");

        p.engine.giveUp(EchoFailure::NoPermission, 1);
        QCOMPARE(shown(), "No permission to ping: see man lagoscope");
        p.window->Command1_Click();
        p.engine.fail(EchoFailure::Timeout, 0, 1);
        p.engine.fail(EchoFailure::IcmpError, 3 * 256 + 1, 2);
        QCOMPARE(shown(), ""); // the graph shows these
        p.engine.fail(EchoFailure::SendFailed, ENETUNREACH, 3);
        QVERIFY(shown().startsWith("Cannot send to slow.test: "));
        p.engine.reply(4, 10);
        QCOMPARE(shown(), "");

        // A host too long for the line shows in part, all of it for screen readers.
        p.hostBox()->setText(QString(300, 'a'));
        p.window->Command1_Click();
        p.window->Command1_Click();
        p.engine.giveUp(EchoFailure::ResolveFailed, 0);
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->width());
        QCOMPARE(line->accessibleDescription(), "Cannot find host " + QString(300, 'a'));

        QList<QRect> after;
        for (QWidget *child : p.window->findChildren<QWidget *>())
            after << child->geometry();
        QCOMPARE(after, layout);
    }

    // The window-loss tooltip names the span its samples cover.
    void theWindowLossSpanFollowsTheInterval()
    {
        WindowProbe p;
        QCOMPARE(p.control("wndLoss")->toolTip(), "Percent loss in last 37 seconds");
        p.hostBox()->setText("S:250");
        QTest::keyClick(p.hostBox(), Qt::Key_Return);
        QCOMPARE(p.control("Label8")->toolTip(), "Percent loss in last 94 seconds");
        QCOMPARE(p.control("wndLoss")->toolTip(), "Percent loss in last 94 seconds");
    }

    void stopKeepsTheScreenAndStartResetsTheRun()
    {
        WindowProbe p("127.0.0.1");
        p.engine.sent(3);
        p.engine.reply(1, 20);
        p.engine.reply(2, 40);
        const QStringList names{"SendLabel", "RecvLabel", "LossLabel",
                                "avping",    "cping",     "wndLoss"};
        QStringList before;
        for (const QString &n : names)
            before << p.text(qPrintable(n));
        const QImage drawing = p.window->drawing().copy();

        p.window->Command1_Click(); // Stop
        QStringList after;
        for (const QString &n : names)
            after << p.text(qPrintable(n));
        QCOMPARE(after, before);
        QCOMPARE(p.window->drawing(), drawing);
        QCOMPARE(p.window->lagHistory().slot(376), 40);

        p.window->Command1_Click(); // Start
        QCOMPARE(p.window->sentCount(), 0.0);
        QCOMPARE(p.window->recvCount(), 0.0);
        QCOMPARE(p.window->lastSeq(), 2.0);
        for (int i = 1; i <= 376; ++i)
            QCOMPARE(p.window->lagHistory().slot(i), LagHistory::emptyMarker);
        // Start redraws nothing and rewrites no label either.
        QCOMPARE(p.window->drawing(), drawing);
        QCOMPARE(p.text("SendLabel"), before.first());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
