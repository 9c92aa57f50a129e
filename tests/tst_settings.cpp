// tst_settings.cpp: zentrel.ini reads and writes, and the creation of ROUTER.CFG, on real files.
#include "app/router_config.h"
#include "app/settings_file.h"
#include "platform/error.h"
#include "platform/posix/posix_text_files.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/current_dir.h"
#include "tests/support/zentrel_process.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace zentrel;

namespace {

template <std::size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// The lines of an INI file that carry something, whatever the line ends.
QList<QByteArray> iniLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const QByteArray &line : bytes.split('\n'))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines;
}

// The real text files, with a write (or, past the last line, the commit)
// that fails at a chosen line.
class FailingWrites : public platform::PosixTextFiles
{
public:
    explicit FailingWrites(int failingLine) : m_failingLine(failingLine) {}

    std::unique_ptr<platform::OutputFile> createOutput(const std::string &path,
                                                       Creation creation) override
    {
        return std::make_unique<Output>(PosixTextFiles::createOutput(path, creation), m_failingLine);
    }

private:
    class Output : public platform::OutputFile
    {
    public:
        Output(std::unique_ptr<platform::OutputFile> real, int failingLine)
            : m_real(std::move(real)), m_failingLine(failingLine)
        {
        }
        void writeLine(std::string_view text) override
        {
            if (++m_lines == m_failingLine)
                throw platform::Error(platform::DeviceIoError, "No space left on device");
            m_real->writeLine(text);
        }
        void commit() override
        {
            m_real->commit();
            if (++m_lines == m_failingLine)
                throw platform::Error(platform::DeviceIoError, "No space left on device");
        }
        void discard() override { m_real->discard(); }

    private:
        std::unique_ptr<platform::OutputFile> m_real;
        int m_failingLine;
        int m_lines = 0;
    };

    int m_failingLine;
};

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void write_createsFileWithSectionAndKey();
    void path_followsCurrentDirectory();
    void currentDirectoryGone_nothingFails();
    void routerConfig_createdByteExact();
    void routerConfig_slotsAreBoundChecked_data();
    void routerConfig_slotsAreBoundChecked();
    void routerConfig_failedWriteLeavesNoFile_data();
    void routerConfig_failedWriteLeavesNoFile();
    void routerConfig_failedOpenTouchesNothing();
};

void tst_Settings::read_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<double>("number");

    const QByteArray normal = "[Settings]\r\nTCP-Port=1101\r\n";
    QTest::newRow("no file") << false << QByteArray() << "TCP-Port" << 0.0;
    QTest::newRow("port") << true << normal << "TCP-Port" << 1101.0;
    QTest::newRow("missing key") << true << normal << "PositionX" << 0.0;
    QTest::newRow("other section") << true << QByteArray("[Other]\r\nDelay=3\r\n") << "Delay"
                                   << 0.0;
    QTest::newRow("blank inside the number")
        << true << QByteArray("[Settings]\nTCP-Port= 1 101 \n") << "TCP-Port" << 1101.0;
    QTest::newRow("hex") << true << QByteArray("[Settings]\nTCP-Port=&H44D\n") << "TCP-Port"
                         << 1101.0;
    QTest::newRow("binary junk") << true
                                 << bytes("\0\xff[Settings]\0\r\nDelay=\x01\x02\0\r\n\xfe")
                                 << "Delay" << 0.0;
    QTest::newRow("very long value") << true << "[Settings]\nDelay=9" + QByteArray(200000, '9')
                                     << "Delay" << 1e99;
}

void tst_Settings::read()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(double, number);

    tests::ScratchDir dir;
    if (fileExists)
        dir.write("zentrel.ini", file);
    platform::QtPlatform qt;
    QCOMPARE(app::readSetting(qt.platform().profile, key.toStdString()), number);
    QCOMPARE(QFileInfo::exists(dir.file("zentrel.ini")), fileExists);
    QCOMPARE(dir.read("zentrel.ini"), file);
}

void tst_Settings::write_createsFileWithSectionAndKey()
{
    tests::ScratchDir dir;
    platform::QtPlatform qt;
    app::writeSetting(qt.platform().profile, "TCP-Port", "1101");
    QCOMPARE(iniLines(dir.read("zentrel.ini")),
             (QList<QByteArray>{"[Settings]", "TCP-Port=1101"}));
    QCOMPARE(app::readSetting(qt.platform().profile, "tcp-port"), 1101.0);
}

void tst_Settings::path_followsCurrentDirectory()
{
    tests::ScratchDir first;
    platform::QtPlatform qt;
    auto &profile = qt.platform().profile;
    app::writeSetting(profile, "Delay", "3");
    {
        tests::ScratchDir second;
        QCOMPARE(app::readSetting(profile, "Delay"), 0.0);
        app::writeSetting(profile, "Delay", "7");
        QCOMPARE(app::readSetting(profile, "Delay"), 7.0);
    }
    QCOMPARE(app::readSetting(profile, "Delay"), 3.0);
    QCOMPARE(iniLines(first.read("zentrel.ini")), (QList<QByteArray>{"[Settings]", "Delay=3"}));
}

void tst_Settings::currentDirectoryGone_nothingFails()
{
    tests::ScratchDir dir;
    QVERIFY(QDir(dir.path()).removeRecursively());
    platform::QtPlatform qt;
    QCOMPARE(app::readSetting(qt.platform().profile, "Delay"), 0.0);
    app::writeSetting(qt.platform().profile, "Delay", "0");
    QVERIFY(!QFileInfo::exists(dir.file("zentrel.ini")));
}

void tst_Settings::routerConfig_createdByteExact()
{
    tests::ScratchDir dir;
    platform::QtPlatform qt;
    app::DefaultConfigLines lines;
    lines.fill();
    app::createRouterConfig(qt.platform().files, lines);

    const QByteArray written = dir.read("ROUTER.CFG");
    QCOMPARE(written.size(), 376);
    QCOMPARE(written, tests::DefaultRouterConfig);
    QCOMPARE(written.count("\r\n"), 17);
}

void tst_Settings::routerConfig_slotsAreBoundChecked_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("text");

    QTest::newRow("first") << 0 << true << "Router Configurator: v 0.8b";
    QTest::newRow("last line") << 16 << true << "Demo-Router >";
    QTest::newRow("first unused") << 17 << true << "";
    QTest::newRow("last slot") << 50 << true << "";
    QTest::newRow("past the table") << 51 << false << "";
    QTest::newRow("negative") << -1 << false << "";
}

void tst_Settings::routerConfig_slotsAreBoundChecked()
{
    QFETCH(int, slot);
    QFETCH(bool, valid);
    QFETCH(QString, text);

    app::DefaultConfigLines lines;
    lines.fill();
    try {
        QCOMPARE(QString::fromStdString(lines.at(slot)), text);
        lines.set(slot, "changed");
        QVERIFY(valid);
    } catch (const platform::Error &error) {
        QVERIFY(!valid);
        QCOMPARE(error.code(), app::SubscriptOutOfRange);
    }
}

void tst_Settings::routerConfig_failedWriteLeavesNoFile_data()
{
    QTest::addColumn<int>("failingLine");
    QTest::newRow("first line") << 1;
    QTest::newRow("half-way") << 9;
    QTest::newRow("last line") << 17;
    QTest::newRow("flush or close") << 18;
}

void tst_Settings::routerConfig_failedWriteLeavesNoFile()
{
    QFETCH(int, failingLine);

    tests::ScratchDir dir;
    FailingWrites files(failingLine);
    app::DefaultConfigLines lines;
    lines.fill();
    try {
        app::createRouterConfig(files, lines);
        QFAIL("the failed write was not passed on");
    } catch (const platform::Error &error) {
        QCOMPARE(error.code(), int(platform::DeviceIoError));
    }
    QVERIFY(!QFileInfo::exists(dir.file("ROUTER.CFG")));
}

// A link into a directory that does not exist: the open fails even as root.
void tst_Settings::routerConfig_failedOpenTouchesNothing()
{
    tests::ScratchDir dir;
    QVERIFY(QFile::link(dir.file("missing/ROUTER.CFG"), dir.file("ROUTER.CFG")));
    platform::QtPlatform qt;
    app::DefaultConfigLines lines;
    lines.fill();
    QVERIFY_THROWS_EXCEPTION(platform::Error, app::createRouterConfig(qt.platform().files, lines));
    QVERIFY(QFileInfo(dir.file("ROUTER.CFG")).isSymLink());
    QVERIFY(!QFileInfo::exists(dir.file("missing")));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
