#include "WindowProbe.h"

#include <QMenu>
#include <QTest>

namespace {
void type(WindowProbe &p, const QString &text)
{
    p.hostBox()->setText(text);
    QTest::keyClick(p.hostBox(), Qt::Key_Return);
}

void show(WindowProbe &p)
{
    p.window->show();
    if (!QTest::qWaitForWindowActive(p.window.get()))
        qFatal("window did not become active");
}
} // namespace

class TestHostBox : public QObject {
    Q_OBJECT

  private slots:
    void intervalCommandSetsAndBeeps()
    {
        WindowProbe p;
        p.takeWrites();
        type(p, "S:250");
        QCOMPARE(p.takeWrites(), QStringList{"interval=250"});
        QCOMPARE(p.beeps, 1);
        QCOMPARE(p.hostBox()->text(), "S:250");
        QVERIFY(!p.engine.running());
        QCOMPARE(p.button()->text(), "Start");

        for (const char *text : {"S: 250", "S:2 50", "S:250ms", "S:2.5e2"}) {
            type(p, text);
            QCOMPARE(p.takeWrites(), QStringList{"interval=250"});
        }
        QCOMPARE(p.beeps, 5);
        // Ten is the least accepted, for both commands.
        type(p, "S:10");
        type(p, "P:10");
        QCOMPARE(p.takeWrites(), (QStringList{"interval=10", "payload=10"}));
        QCOMPARE(p.beeps, 7);
    }

    void commandsBelowTenOrWithoutANumberDoNothing()
    {
        WindowProbe p;
        p.takeWrites();
        for (const char *text :
             {"S:9", "S:9.99", "S:9.999", "P:9.999", "S:abc", "S:", "P:-50", "P:", "S:0x20"}) {
            type(p, text);
            QCOMPARE(p.hostBox()->text(), text);
        }
        QVERIFY(p.takeWrites().isEmpty());
        QCOMPARE(p.beeps, 0);
        QVERIFY(p.creditsShown());
    }

    void queriesShowTheValueInForce()
    {
        WindowProbe p;
        type(p, "S:?");
        QCOMPARE(p.hostBox()->text(), "S:100");
        type(p, "S:?anything");
        QCOMPARE(p.hostBox()->text(), "S:100");
        type(p, "S:1e400");
        type(p, "S:?");
        QCOMPARE(p.hostBox()->text(), "S:2147483647");

        type(p, "P:?");
        QCOMPARE(p.hostBox()->text(), "P:32");
        p.takeWrites();
        const int beeps = p.beeps;
        QTest::keyClick(p.hostBox(), Qt::Key_Return);
        QCOMPARE(p.takeWrites(), QStringList{"payload=32"});
        QCOMPARE(p.beeps, beeps + 1);
        // Values whose 16-bit reading would not fit show as they are.
        type(p, "P:40000");
        type(p, "P:?");
        QCOMPARE(p.hostBox()->text(), "P:40000");
        type(p, "P:12.5");
        type(p, "P:?");
        QCOMPARE(p.hostBox()->text(), "P:12");
    }

    void otherTextsStartAndStop()
    {
        WindowProbe p;
        p.takeWrites();
        type(p, "s:250");
        QCOMPARE(p.takeWrites(),
                 (QStringList{"host=\"s:250\"", "running=true", "synchronous=false"}));
        QCOMPARE(p.hostBox()->text(), "s:250");
        type(p, "P?");
        QCOMPARE(p.takeWrites(), (QStringList{"running=false", "restart=true"}));
        // While pinging, a command leaves the running state alone.
        type(p, "x");
        p.takeWrites();
        type(p, "S:500");
        QCOMPARE(p.takeWrites(), QStringList{"interval=500"});
        QVERIFY(p.engine.running());
    }

    void enterOnAnEmptyBoxOnlyBeeps()
    {
        WindowProbe p;
        p.takeWrites();
        type(p, "");
        QCOMPARE(p.beeps, 1);
        QVERIFY(p.takeWrites().isEmpty());
        QVERIFY(p.creditsShown());
        QCOMPARE(p.hostBox()->text(), "");
    }

    void otherKeysTypeNormally()
    {
        WindowProbe p;
        show(p);
        QTest::keyClicks(p.hostBox(), "ab c:?1");
        QCOMPARE(p.hostBox()->text(), "ab c:?1");
        QTest::keyClick(p.hostBox(), Qt::Key_Backspace);
        QTest::keyClick(p.hostBox(), Qt::Key_Left);
        QTest::keyClicks(p.hostBox(), "Z");
        QCOMPARE(p.hostBox()->text(), "ab c:Z?");
        QCOMPARE(p.beeps, 0);
        QVERIFY(!p.engine.running());
    }

    void enteringTheBoxTrimsAndSelects()
    {
        WindowProbe p(" \t 127.0.0.1  ");
        show(p);
        // Only spaces are trimmed, however the box is entered.
        QCOMPARE(p.hostBox()->text(), "\t 127.0.0.1");
        QCOMPARE(p.hostBox()->selectedText(), "\t 127.0.0.1");

        p.hostBox()->setText("  example  ");
        QTest::keyClick(p.window.get(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p.button());
        QTest::keyClick(p.button(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p.hostBox());
        QCOMPARE(p.hostBox()->text(), "example");
        QCOMPARE(p.hostBox()->selectedText(), "example");

        p.hostBox()->setText("  back  ");
        QTest::keyClick(p.hostBox(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), p.button());
        QTest::keyClick(p.button(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(p.hostBox()->selectedText(), "back");

        p.hostBox()->setText(" key ");
        p.button()->setFocus();
        QTest::keyClick(p.button(), Qt::Key_I, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), p.hostBox());
        QCOMPARE(p.hostBox()->selectedText(), "key");

        p.hostBox()->setText("  click me ");
        p.button()->setFocus();
        QTest::mouseClick(p.hostBox(), Qt::LeftButton, {}, QPoint(20, 9));
        QCOMPARE(QApplication::focusWidget(), p.hostBox());
        QCOMPARE(p.hostBox()->text(), "click me");
        QCOMPARE(p.hostBox()->selectedText(), "click me");
    }

    // Switching to another window and back, or closing a popup, is not
    // entering the box: the text, its blanks and the caret stay.
    void focusThatComesBackLeavesTheTextAlone()
    {
        WindowProbe p;
        show(p);
        QTest::keyClicks(p.hostBox(), "abc  ");
        QCOMPARE(p.hostBox()->cursorPosition(), 5);

        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!p.hostBox()->hasFocus());
        p.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.window.get()));
        QVERIFY(p.hostBox()->hasFocus());
        QTest::keyClick(p.hostBox(), Qt::Key_X);
        QCOMPARE(p.hostBox()->text(), "abc  x");

        p.hostBox()->setCursorPosition(2);
        QMenu menu;
        menu.addAction("Paste");
        menu.popup(p.hostBox()->mapToGlobal(QPoint(5, 5)));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        menu.close();
        QTRY_VERIFY(p.hostBox()->hasFocus());
        QCOMPARE(p.hostBox()->text(), "abc  x");
        QVERIFY(!p.hostBox()->hasSelectedText());
        QCOMPARE(p.hostBox()->cursorPosition(), 2);

        // Entering it by Tab still trims and selects.
        p.button()->setFocus();
        QTest::keyClick(p.button(), Qt::Key_Tab);
        QCOMPARE(p.hostBox()->selectedText(), "abc  x");
    }

    // On the focused button Enter, keypad Enter and Space each press it once;
    // Enter in the host box keeps its own meaning.
    void keysOnTheFocusedButtonPressIt()
    {
        WindowProbe p("127.0.0.1");
        show(p);
        QVERIFY(p.engine.running());
        p.button()->setFocus();
        QTest::keyClick(p.button(), Qt::Key_Return);
        QVERIFY(!p.engine.running());
        QTest::keyClick(p.button(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(p.engine.running());
        QTest::keyClick(p.button(), Qt::Key_Space);
        QVERIFY(!p.engine.running());
        QCOMPARE(p.button()->text(), "Start");

        p.hostBox()->setFocus();
        p.hostBox()->setText("S:250");
        QTest::keyClick(p.hostBox(), Qt::Key_Return);
        QVERIFY(!p.engine.running());
        QCOMPARE(p.engine.interval(), 250.0);
    }
};

QTEST_MAIN(TestHostBox)
#include "test_host_box.moc"
