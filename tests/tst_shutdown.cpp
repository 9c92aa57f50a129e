// tst_shutdown.cpp: what the window's unload leaves in zentrel.ini, the listening port and the files.
#include "app/shutdown.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/current_dir.h"
#include "tests/support/startup_rig.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace zentrel;

namespace {

struct Rig : tests::StartupRig {
    QByteArray setting(const char *key)
    {
        return QByteArray::fromStdString(
            platform.profile.getString("Settings", key, "<none>", 100, dir.stdPath("zentrel.ini")));
    }

    tests::ScratchDir dir;
};

} // namespace

class tst_Shutdown : public QObject
{
    Q_OBJECT
private slots:
    void position_data();
    void position();
    void stopsListeningAndLeavesReadersTheirFiles();
    void settingsUnwritable_stillStops();
};

void tst_Shutdown::position_data()
{
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QByteArray>("positionX");
    QTest::addColumn<QByteArray>("positionY");

    QTest::newRow("normal exit") << 600.0f << 450.0f << false << false << QByteArray("600")
                                 << QByteArray("450");
    QTest::newRow("off screen") << -1200.0f << 0.0f << false << false << QByteArray("-1200")
                                << QByteArray("0");
    QTest::newRow("fraction of a twip") << 600.5f << 0.25f << false << false
                                        << QByteArray("600.5") << QByteArray("0.25");
    QTest::newRow("far away") << 123456789.0f << 450.0f << false << false
                              << QByteArray("1.234568E+08") << QByteArray("450");
    QTest::newRow("minimized keeps the old values") << 600.0f << 450.0f << true << false
                                                    << QByteArray("10") << QByteArray("20");
    QTest::newRow("refused copy keeps the old values") << 0.0f << 0.0f << false << true
                                                       << QByteArray("10") << QByteArray("20");
}

void tst_Shutdown::position()
{
    QFETCH(float, left);
    QFETCH(float, top);
    QFETCH(bool, minimized);
    QFETCH(bool, refused);
    QFETCH(QByteArray, positionX);
    QFETCH(QByteArray, positionY);

    Rig rig;
    rig.dir.write("zentrel.ini", "[Settings]\r\nPositionX=10\r\nPositionY=20\r\nTCP-Port=1101\r\n");
    rig.form.setLeft(left);
    rig.form.setTop(top);
    rig.form.viewMinimized(minimized);
    rig.shared.refusedCopy = refused;
    rig.form.close();

    QCOMPARE(rig.setting("PositionX"), positionX);
    QCOMPARE(rig.setting("PositionY"), positionY);
    QCOMPARE(rig.setting("TCP-Port"), QByteArray("1101"));
    QCOMPARE(rig.shared.stopRequested, std::int16_t(1));
}

// The port is closed at once; a file being read belongs to its reader,
// which lets go of it when it sees stopRequested, so it stays readable.
void tst_Shutdown::stopsListeningAndLeavesReadersTheirFiles()
{
    Rig rig;
    rig.dir.write("RESPONSE.TXT", "a,b\r\n");
    auto script = rig.files.openInput("RESPONSE.TXT");
    QCOMPARE(script->get(), int('a'));
    rig.network.listen(1101);

    rig.form.close();

    QCOMPARE(rig.shared.stopRequested, std::int16_t(1));
    QVERIFY(!rig.network.listening());
    QCOMPARE(script->get(), int(','));
}

void tst_Shutdown::settingsUnwritable_stillStops()
{
    Rig rig;
    QVERIFY(QDir(rig.dir.path()).mkdir("zentrel.ini"));   // no file can be written there
    rig.network.listen(1101);
    rig.form.setLeft(600);
    rig.form.close();
    QCOMPARE(rig.shared.stopRequested, std::int16_t(1));
    QVERIFY(!rig.network.listening());
    QVERIFY(QFileInfo(rig.dir.file("zentrel.ini")).isDir());
}

QTEST_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
