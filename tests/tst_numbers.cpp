// tst_numbers.cpp: the number of a settings value, and the text of a number.
#include "console/number_text.h"
#include "app/settings_file.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/current_dir.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

using namespace zentrel;

namespace {
constexpr double Largest = std::numeric_limits<double>::max();
}

class tst_Numbers : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void parse_anyBytesGiveAFiniteNumber();
    void doubleText_data();
    void doubleText();
    void doubleText_readsBack_data();
    void doubleText_readsBack();
    void singleText_data();
    void singleText();
    void settingsRead_onlyFirst99BytesCount_data();
    void settingsRead_onlyFirst99BytesCount();
};

void tst_Numbers::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("number");

    QTest::newRow("plain") << QByteArray("1101") << 1101.0;
    QTest::newRow("blanks around") << QByteArray("  1101  ") << 1101.0;
    QTest::newRow("blank between digits") << QByteArray("1 101") << 1101.0;
    QTest::newRow("tab and line feed inside") << QByteArray("\t11\n0 1") << 1101.0;
    QTest::newRow("carriage return stops") << QByteArray("11\r01") << 11.0;
    QTest::newRow("zero byte stops") << QByteArray("11\0" "22", 5) << 11.0;

    QTest::newRow("plus") << QByteArray("+5") << 5.0;
    QTest::newRow("minus") << QByteArray("-2") << -2.0;
    QTest::newRow("blank after sign") << QByteArray("- 2") << -2.0;
    QTest::newRow("two signs") << QByteArray("+-5") << 0.0;
    QTest::newRow("sign after digits stops") << QByteArray("5-3") << 5.0;

    QTest::newRow("fraction") << QByteArray("1.5") << 1.5;
    QTest::newRow("quarter") << QByteArray("0.25") << 0.25;
    QTest::newRow("no leading digit") << QByteArray(".25") << 0.25;
    QTest::newRow("trailing point") << QByteArray("5.") << 5.0;
    QTest::newRow("second point stops") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("decimal comma stops") << QByteArray("1,5") << 1.0;
    QTest::newRow("point alone") << QByteArray(".") << 0.0;
    QTest::newRow("correctly rounded") << QByteArray("0.1") << 0.1;

    QTest::newRow("exponent zero") << QByteArray("1E0") << 1.0;
    QTest::newRow("small e") << QByteArray("2.5e-1") << 0.25;
    QTest::newRow("exponent plus") << QByteArray("1E+2") << 100.0;
    QTest::newRow("blanks in exponent") << QByteArray("1 E - 2") << 0.01;
    QTest::newRow("exponent without digits") << QByteArray("3E") << 3.0;
    QTest::newRow("exponent sign without digits") << QByteArray("3E-x") << 3.0;
    QTest::newRow("D is no exponent") << QByteArray("1D2") << 1.0;
    QTest::newRow("too large") << QByteArray("1E999") << Largest;
    QTest::newRow("too large negative") << QByteArray("-1E999") << -Largest;
    QTest::newRow("endless exponent") << QByteArray("9E99999999999999999999999") << Largest;
    QTest::newRow("too small") << QByteArray("1E-999") << 0.0;
    QTest::newRow("zero with huge exponent") << QByteArray("0E999") << 0.0;
    QTest::newRow("many digits") << QByteArray(400, '9') << Largest;
    QTest::newRow("negative zero") << QByteArray("-0") << 0.0;

    QTest::newRow("hex") << QByteArray("&H44D") << 1101.0;
    QTest::newRow("hex lower case") << QByteArray("&h44d") << 1101.0;
    QTest::newRow("hex blanks") << QByteArray(" & H 4 4D") << 1101.0;
    QTest::newRow("hex 16 bits") << QByteArray("&HFFFF") << 65535.0;
    QTest::newRow("hex all ones") << QByteArray("&HFFFFFFFF") << -1.0;
    QTest::newRow("hex lowest") << QByteArray("&H80000000") << -2147483648.0;
    QTest::newRow("hex leading zeros") << QByteArray("&H00000000000FF") << 255.0;
    QTest::newRow("hex 33rd bit stops") << QByteArray("&H1FFFFFFFF") << 536870911.0;
    QTest::newRow("hex letter stops") << QByteArray("&H1G") << 1.0;
    QTest::newRow("hex without digits") << QByteArray("&H") << 0.0;
    QTest::newRow("octal") << QByteArray("&O2115") << 1101.0;
    QTest::newRow("octal all ones") << QByteArray("&O37777777777") << -1.0;
    QTest::newRow("octal 8 stops") << QByteArray("&O78") << 7.0;
    QTest::newRow("unknown radix") << QByteArray("&X12") << 0.0;
    QTest::newRow("sign before radix") << QByteArray("-&H10") << 0.0;

    QTest::newRow("digits then letters") << QByteArray("12abc") << 12.0;
    QTest::newRow("letters") << QByteArray("abc") << 0.0;
    QTest::newRow("empty") << QByteArray("") << 0.0;
    QTest::newRow("blanks only") << QByteArray("   ") << 0.0;
    QTest::newRow("high bytes") << QByteArray("\xff\xfe" "12") << 0.0;
}

void tst_Numbers::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(double, number);
    const double parsed = console::parseNumber(std::string_view(text.constData(), text.size()));
    QCOMPARE(parsed, number);
    QVERIFY(!std::signbit(parsed) || parsed != 0);
}

void tst_Numbers::parse_anyBytesGiveAFiniteNumber()
{
    QRandomGenerator random(20010212);
    const QByteArray alphabet("0123456789+-.eE&HhOo \t\n,x\0\xff", 28);
    for (int round = 0; round < 20000; ++round) {
        QByteArray text(int(random.bounded(1, 60)), Qt::Uninitialized);
        for (char &c : text)
            c = random.bounded(4) == 0 ? char(random.bounded(256))
                                       : alphabet[int(random.bounded(alphabet.size()))];
        const double parsed = console::parseNumber(std::string_view(text.constData(), text.size()));
        if (!std::isfinite(parsed))
            QFAIL(qPrintable("not finite for " + text.toHex()));
    }
}

void tst_Numbers::doubleText_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("two") << 2.0 << "2";
    QTest::newRow("half") << 0.5 << "0.5";
    QTest::newRow("default port") << 1101.0 << "1101";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("negative fraction") << -3.25 << "-3.25";
    QTest::newRow("port with half") << 23.5 << "23.5";
    QTest::newRow("15 digits") << 999999999999999.0 << "999999999999999";
    QTest::newRow("rounded to 15 digits") << 123456789012345.6 << "123456789012346";
    QTest::newRow("binary noise dropped") << 0.1 + 0.2 << "0.3";
    QTest::newRow("exponent from 1E+15") << 1e15 << "1E+15";
    QTest::newRow("rounding reaches 1E+15") << 999999999999999.9 << "1E+15";
    QTest::newRow("large with fraction") << 1.5e20 << "1.5E+20";
    QTest::newRow("three-digit exponent") << 1e100 << "1E+100";
    QTest::newRow("largest") << Largest << "1.79769313486232E+308";
    QTest::newRow("smallest plain") << 0.0001 << "0.0001";
    QTest::newRow("small") << 0.00001 << "1E-05";
    QTest::newRow("small with fraction") << 1.5e-7 << "1.5E-07";
    QTest::newRow("negative small") << -2.5e-10 << "-2.5E-10";
}

void tst_Numbers::doubleText()
{
    QFETCH(double, number);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(console::doubleText(number)), text);
}

void tst_Numbers::doubleText_readsBack_data()
{
    QTest::addColumn<double>("number");
    QTest::newRow("whole") << 65535.0;
    QTest::newRow("fraction") << 0.125;
    QTest::newRow("negative") << -42.75;
    QTest::newRow("large") << 2.5e30;
    QTest::newRow("small") << 1.5e-7;
    QTest::newRow("15 digits") << 12345.6789012345;
}

// What start-up writes and shows must read back as the same number.
void tst_Numbers::doubleText_readsBack()
{
    QFETCH(double, number);
    QCOMPARE(console::parseNumber(console::doubleText(number)), number);
}

void tst_Numbers::singleText_data()
{
    QTest::addColumn<float>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("left edge") << 600.0f << "600";
    QTest::newRow("top edge") << 450.0f << "450";
    QTest::newRow("off screen") << -120.0f << "-120";
    QTest::newRow("fraction") << 600.5f << "600.5";
    QTest::newRow("single noise dropped") << 0.1f << "0.1";
    QTest::newRow("7 digits") << 1234567.0f << "1234567";
    QTest::newRow("exponent from 1E+07") << 12345678.0f << "1.234568E+07";
    QTest::newRow("largest single") << std::numeric_limits<float>::max() << "3.402823E+38";
    QTest::newRow("zero") << 0.0f << "0";
}

void tst_Numbers::singleText()
{
    QFETCH(float, number);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(console::singleText(number)), text);
}

void tst_Numbers::settingsRead_onlyFirst99BytesCount_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<double>("number");

    QTest::newRow("digit in byte 99") << QByteArray(98, '0') + "7" + QByteArray(51, '8') << 7.0;
    QTest::newRow("digit in byte 100") << QByteArray(99, '0') + "5" + QByteArray(50, '5') << 0.0;
    QTest::newRow("blanks inside") << "1" + QByteArray(97, ' ') + "2" + QByteArray(50, '3') << 12.0;
    QTest::newRow("exponent cut off") << QByteArray(97, '0') + "3E5" << 3.0;
    QTest::newRow("short value") << QByteArray("1101") << 1101.0;
}

void tst_Numbers::settingsRead_onlyFirst99BytesCount()
{
    QFETCH(QByteArray, value);
    QFETCH(double, number);

    tests::ScratchDir dir;
    dir.write("zentrel.ini", "[Settings]\r\nDelay=" + value + "\r\n");
    platform::QtPlatform qt;
    QCOMPARE(app::readSetting(qt.platform().profile, "Delay"), number);
}

QTEST_MAIN(tst_Numbers)
#include "tst_numbers.moc"
