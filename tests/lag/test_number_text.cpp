#include "NumberText.h"

#include <QTest>

#include <cfloat>
#include <clocale>

class TestNumberText : public QObject {
    Q_OBJECT

  private slots:
    void roundingSendsHalvesToEven()
    {
        QCOMPARE(roundToInt16(2.5), 2);
        QCOMPARE(roundToInt16(3.5), 4);
        QCOMPARE(roundToInt16(-2.5), -2);
        QCOMPARE(roundToInt16(-3.5), -4);
        QCOMPARE(roundToInt16(0.5), 0);
        QCOMPARE(roundToInt16(2.4999999), 2);
        QCOMPARE(roundToInt16(2.5000001), 3);
        QCOMPARE(roundToInt32(62.5), 62);
        QCOMPARE(roundToInt32(-0.4), 0);
    }

    void roundingSaturatesOutOfRange()
    {
        QCOMPARE(roundToInt16(32767.4), 32767);
        QCOMPARE(roundToInt16(32767.5), 32767);
        QCOMPARE(roundToInt16(1e9), 32767);
        QCOMPARE(roundToInt16(-1e9), -32768);
        QCOMPARE(roundToInt32(1e300), INT32_MAX);
        QCOMPARE(roundToInt32(-INFINITY), INT32_MIN);
        QCOMPARE(roundToInt32(NAN), 0);
        QCOMPARE(roundToInt32(2147483646.5), 2147483646);
    }

    void textForms()
    {
        QCOMPARE(decimalText(0), "0");
        QCOMPARE(decimalText(-12), "-12");
        QCOMPARE(signedSpaceText(5), " 5");
        QCOMPARE(signedSpaceText(0), " 0");
        QCOMPARE(signedSpaceText(-5), "-5");
        QCOMPARE(countText(12), " 12");
        QCOMPARE(countText(1e15), " 1000000000000000");
        QCOMPARE(msText(1500), "1500 ms");
        QCOMPARE(msText(-7), "-7 ms");
        QCOMPARE(percentText(63), "63 %");
    }

    void readsPlainNumbers()
    {
        QCOMPARE(readNumber("250"), 250.0);
        QCOMPARE(readNumber("-12.5"), -12.5);
        QCOMPARE(readNumber("+7"), 7.0);
        QCOMPARE(readNumber(".5"), 0.5);
        QCOMPARE(readNumber("5."), 5.0);
        QCOMPARE(readNumber("007"), 7.0);
    }

    void ignoresBlanksTabsAndLineFeedsAnywhere()
    {
        QCOMPARE(readNumber(" 250"), 250.0);
        QCOMPARE(readNumber("2 50"), 250.0);
        QCOMPARE(readNumber("\t2\n5 0 "), 250.0);
        QCOMPARE(readNumber("- 1 . 5"), -1.5);
        QCOMPARE(readNumber("1 e 3"), 1000.0);
        // A carriage return is not among them: it ends the number.
        QCOMPARE(readNumber("2\r50"), 2.0);
    }

    void exponents()
    {
        QCOMPARE(readNumber("1e3"), 1000.0);
        QCOMPARE(readNumber("1E3"), 1000.0);
        QCOMPARE(readNumber("2.5e-1"), 0.25);
        QCOMPARE(readNumber("1e+2"), 100.0);
        QCOMPARE(readNumber("1e"), 1.0);
        QCOMPARE(readNumber("1e+"), 1.0);
        QCOMPARE(readNumber("1d3"), 1.0);
        QCOMPARE(readNumber("1e400"), DBL_MAX);
        QCOMPARE(readNumber("-1e400"), -DBL_MAX);
        QCOMPARE(readNumber("1e-400"), 0.0);
        QCOMPARE(readNumber("0.0000001e-400"), 0.0);
        QCOMPARE(readNumber(std::string(400, '9')), DBL_MAX);
        QCOMPARE(readNumber("1e99999999999999999999"), DBL_MAX);
    }

    void stopsAtTrailingGarbage()
    {
        QCOMPARE(readNumber("250ms"), 250.0);
        QCOMPARE(readNumber("12.5.6"), 12.5);
        QCOMPARE(readNumber("1,5"), 1.0);
        QCOMPARE(readNumber("3-4"), 3.0);
        QCOMPARE(readNumber("0x10"), 0.0);
        QCOMPARE(readNumber("&H10"), 0.0);
    }

    void noNumberReadsZero()
    {
        QCOMPARE(readNumber(""), 0.0);
        QCOMPARE(readNumber("   "), 0.0);
        QCOMPARE(readNumber("abc"), 0.0);
        QCOMPARE(readNumber("-"), 0.0);
        QCOMPARE(readNumber("."), 0.0);
        QCOMPARE(readNumber("e5"), 0.0);
    }

    void decimalPointIgnoresTheLocale()
    {
#ifdef Q_OS_WIN
        QVERIFY(std::setlocale(LC_NUMERIC, "German_Germany.1252"));
#else
        // scripts/deps.sh makes the locale where it is missing.
        QVERIFY(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
#endif
        QCOMPARE(*std::localeconv()->decimal_point, ','); // the locale this test is about
        QCOMPARE(readNumber("1.5"), 1.5);
        QCOMPARE(readNumber("1,5"), 1.0);
        QCOMPARE(readNumber("2.5e3"), 2500.0);
        std::setlocale(LC_NUMERIC, "C");
    }
};

QTEST_APPLESS_MAIN(TestNumberText)
#include "test_number_text.moc"
