// tst_package.cpp: the Debian package, built with cpack and unpacked with dpkg -x, holds a working Zentrel.
#include "app/version.h"
#include "ui/qt/qt_view.h"
#include "ui/qt/qt_view_help.h"
#include "tests/support/zentrel_process.h"
#include "ui/window_model.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

using namespace zentrel;

namespace {

const QString Source = QStringLiteral(ZENTREL_SOURCE_DIR);

struct Run {
    int exitCode = -1;
    QByteArray output;
    QString failure;   // empty when the program ran to its end
};

Run run(const QString &program, const QStringList &arguments, const QString &directory = {},
        int timeout = 120000)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(30000)) {
        result.failure = program + ": " + process.errorString();
        return result;
    }
    if (!process.waitForFinished(timeout)) {
        process.kill();
        process.waitForFinished(5000);
        result.failure = program + " did not finish";
    } else if (process.exitStatus() != QProcess::NormalExit) {
        result.failure = program + " crashed";
    }
    result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_Package : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void control_namesVersionAndDependencies();
    void files_installed_data();
    void files_installed();
    void demoFiles_sameAsRepository();
    void starters_foundBesideTheInstalledProgram();
    void desktopEntry_validatesAndLaunchesInstalledCommand();
    void manPage_carriesVersion();
    void manual_isTheGuideF1Shows();
    void launcher_runsZentrelInDataDirectory();

private:
    QString installed(const QString &path) const { return m_root.filePath(path); }
    QByteArray field(const char *name);

    std::unique_ptr<QTemporaryDir> m_work;
    QString m_deb;
    QDir m_root;
};

// cpack builds the package from the build tree into a directory of its own,
// so a package made with `make package` stays as it is.
void tst_Package::initTestCase()
{
    for (const char *tool : {"cpack", "dpkg-deb", "dpkg"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed (scripts/install-deps)").arg(tool)));
    const QString build = QFileInfo(ZENTREL_BINARY).absolutePath();
    QVERIFY2(QFile::exists(build + "/CPackConfig.cmake"), qPrintable(build));

    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    const QString out = m_work->filePath("out");
    const Run cpack = run("cpack", {"-G", "DEB", "-B", out}, build);
    QVERIFY2(cpack.failure.isEmpty() && cpack.exitCode == 0,
             qPrintable(cpack.failure + "\n" + QString::fromLocal8Bit(cpack.output)));

    const Run arch = run("dpkg", {"--print-architecture"});
    QVERIFY(arch.failure.isEmpty() && arch.exitCode == 0);
    m_deb = out + QString("/zentrel_%1_%2.deb")
                      .arg(QString::fromLatin1(app::Version),
                           QString::fromLatin1(arch.output.trimmed()));
    QVERIFY2(QFile::exists(m_deb),
             qPrintable(m_deb + " missing; made: " + QDir(out).entryList(QDir::Files).join(' ')));

    m_root.setPath(m_work->filePath("root"));
    const Run unpack = run("dpkg", {"-x", m_deb, m_root.path()});
    QVERIFY2(unpack.failure.isEmpty() && unpack.exitCode == 0, unpack.output.constData());
}

QByteArray tst_Package::field(const char *name)
{
    const Run show = run("dpkg-deb", {"-f", m_deb, name});
    return show.failure.isEmpty() && show.exitCode == 0 ? show.output.trimmed() : QByteArray();
}

// The version is the one in the window caption; dpkg-shlibdeps named the Qt libraries.
void tst_Package::control_namesVersionAndDependencies()
{
    QCOMPARE(field("Package"), QByteArray("zentrel"));
    QCOMPARE(field("Version"), QByteArray(app::Version));
    QCOMPARE(field("Version"), QByteArray("2.0"));
    const QByteArray depends = field("Depends");
    for (const char *library : {"libqt6widgets6", "libqt6core6", "libc6"})
        QVERIFY2(depends.contains(library), depends.constData());
    QVERIFY2(field("Maintainer").contains('<'), field("Maintainer").constData());
    QVERIFY(!field("Section").isEmpty());
    QVERIFY(field("Description").contains("Telnet console"));
}

void tst_Package::files_installed_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("iconSize");   // 0: not a bitmap icon

    QTest::newRow("program") << "usr/bin/zentrel" << true << 0;
    QTest::newRow("launcher") << "usr/bin/zentrel-desktop" << true << 0;
    QTest::newRow("desktop entry") << "usr/share/applications/zentrel.desktop" << false << 0;
    QTest::newRow("man page") << "usr/share/man/man1/zentrel.1.gz" << false << 0;
    QTest::newRow("headless program") << "usr/bin/zentrel-serve" << true << 0;
    QTest::newRow("headless man page") << "usr/share/man/man1/zentrel-serve.1.gz" << false << 0;
    QTest::newRow("recorder") << "usr/bin/zentrel-record" << true << 0;
    QTest::newRow("recorder man page") << "usr/share/man/man1/zentrel-record.1.gz" << false << 0;
    QTest::newRow("manual") << "usr/share/doc/zentrel/zentrel-help.html" << false << 0;
    QTest::newRow("scalable icon") << "usr/share/icons/hicolor/scalable/apps/zentrel.svg" << false
                                   << 0;
    QTest::newRow("pytest plugin")
        << "usr/lib/python3/dist-packages/pytest_zentrel/__init__.py" << false << 0;
    QTest::newRow("pytest entry point")
        << "usr/lib/python3/dist-packages/pytest_zentrel-2.0.dist-info/entry_points.txt" << false
        << 0;
    for (int size : {32, 48, 64, 128, 256})
        QTest::addRow("icon %d", size)
            << QString("usr/share/icons/hicolor/%1x%1/apps/zentrel.png").arg(size) << false << size;
}

void tst_Package::files_installed()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    QFETCH(int, iconSize);

    const QFileInfo file(installed(path));
    QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
    QCOMPARE(file.isExecutable(), executable);
    if (iconSize)
        QCOMPARE(QImage(file.filePath()).size(), QSize(iconSize, iconSize));
}

void tst_Package::demoFiles_sameAsRepository()
{
    for (const char *name : {"RESPONSE.TXT", "ROUTER.CFG", "zentrel.ini", "login.exp"}) {
        const QByteArray shipped = fileBytes(installed(QString("usr/share/zentrel/demo/") + name));
        QVERIFY2(!shipped.isEmpty(), name);
        QVERIFY2(shipped == fileBytes(Source + "/demo/" + name), name);
    }
    QVERIFY(QFileInfo(installed("usr/share/zentrel/demo/login.exp")).isExecutable());
}

// zentrel-serve finds the starters in share/zentrel/routers beside its own
// prefix, not in the source tree it was built from: a starter added to the
// unpacked tree is listed.
void tst_Package::starters_foundBesideTheInstalledProgram()
{
    const QString routers = installed("usr/share/zentrel/routers/");
    for (const char *name : {"cisco_ios", "cisco_nxos", "arista_eos", "juniper_junos"})
        QVERIFY2(fileBytes(routers + name + "/commands.yaml")
                     == fileBytes(Source + "/routers/" + name + "/commands.yaml"),
                 name);
    QVERIFY(QDir().mkpath(routers + "package_probe"));
    QFile probe(routers + "package_probe/commands.yaml");
    QVERIFY(probe.open(QIODevice::WriteOnly));
    probe.write("# package_probe: made by this test\n");
    probe.close();
    const Run list = run(installed("usr/bin/zentrel-serve"), {"--routers"});
    QVERIFY2(list.failure.isEmpty() && list.exitCode == 0, list.output.constData());
    QVERIFY2(list.output.contains("package_probe  made by this test\n"), list.output.constData());
    QVERIFY2(list.output.contains("\ncisco_ios "), list.output.constData());
}

void tst_Package::desktopEntry_validatesAndLaunchesInstalledCommand()
{
    const QString entry = installed("usr/share/applications/zentrel.desktop");
    const QByteArray text = fileBytes(entry);
    QVERIFY(text.contains("\nExec=zentrel-desktop\n"));
    QVERIFY(text.contains("\nIcon=zentrel\n"));
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    const Run validate = run("desktop-file-validate", {entry});
    QVERIFY2(validate.failure.isEmpty() && validate.exitCode == 0, validate.output.constData());
    QVERIFY2(!validate.output.contains("error"), validate.output.constData());
}

void tst_Package::manPage_carriesVersion()
{
    for (const char *name : {"zentrel", "zentrel-serve", "zentrel-record"}) {
        const QString file = QString("usr/share/man/man1/%1.1.gz").arg(name);
        const Run unzip = run("gzip", {"-dc", installed(file)});
        QVERIFY2(unzip.failure.isEmpty() && unzip.exitCode == 0, unzip.output.constData());
        const QByteArray page = unzip.output;
        const QByteArray title = QByteArray(".TH ") + QByteArray(name).toUpper().replace("-", "\\-") + " 1";
        QVERIFY2(page.contains(title), name);
        QVERIFY2(page.contains("\"Zentrel " + QByteArray(app::Version) + "\""), page.left(300).constData());
        QVERIFY(!page.contains('@'));   // nothing left unfilled

        // groff reads it without a warning, when it is there to ask.
        if (QStandardPaths::findExecutable("groff").isEmpty())
            continue;
        QFile roff(m_work->filePath(QString("%1.1").arg(name)));
        QVERIFY(roff.open(QIODevice::WriteOnly));
        roff.write(page);
        roff.close();
        const Run groff = run("groff", {"-man", "-ww", "-z", roff.fileName()});
        QVERIFY2(groff.failure.isEmpty() && groff.exitCode == 0 && groff.output.isEmpty(),
                 groff.output.constData());
    }
}

// The installed manual and the guide F1 opens are one file, with the version.
void tst_Package::manual_isTheGuideF1Shows()
{
    ui::ZentrelFRM form;
    ui::QtView view(form);   // registers the guide among the resources
    const QByteArray manual = fileBytes(installed("usr/share/doc/zentrel/zentrel-help.html"));
    QVERIFY(!manual.isEmpty());
    QCOMPARE(manual, fileBytes(":/zentrel/zentrel-help.html"));

    ui::HelpViewer help(view.widget());
    help.showGuide();
    QVERIFY(help.guide());
    const QString shown = help.guide()->toPlainText();
    QVERIFY2(shown.contains(QString("Zentrel %1").arg(app::Version)), qPrintable(shown.left(200)));
    QVERIFY(!shown.contains('@'));
    help.hide();
}

// The menu entry's launcher, as unpacked: it puts the missing demo files in
// the user's data directory, leaves the user's own settings alone, and the
// packaged program serves the demo script from there.
void tst_Package::launcher_runsZentrelInDataDirectory()
{
    const QDir data(m_work->filePath("data"));
    const QString home = data.filePath("zentrel");
    QVERIFY(QDir().mkpath(home));
    QVERIFY(QDir().mkpath(data.filePath("runtime")));
    QFile::setPermissions(data.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const quint16 port = tests::freePort();
    QVERIFY(port);
    const QByteArray settings = "[Settings]\r\nTCP-Port=" + QByteArray::number(port) + "\r\n";
    {
        QFile ini(home + "/zentrel.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(settings);
    }

    QProcess zentrel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_DATA_HOME", data.path());
    environment.insert("XDG_RUNTIME_DIR", data.filePath("runtime"));
    environment.insert("TMPDIR", data.filePath("runtime"));
    zentrel.setProcessEnvironment(environment);
    zentrel.setProcessChannelMode(QProcess::MergedChannels);
    zentrel.setStandardInputFile(QProcess::nullDevice());
    zentrel.start(installed("usr/bin/zentrel-desktop"), {});
    QVERIFY2(zentrel.waitForStarted(30000), qPrintable(zentrel.errorString()));

    // Connects once Zentrel listens; the demo script plays to its end and Zentrel hangs up.
    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, this, [&] { received += client.readAll(); });
    const auto connected = [&] {
        client.abort();
        client.connectToHost(QHostAddress::LocalHost, port);
        return client.waitForConnected(1000);
    };
    QTRY_VERIFY_WITH_TIMEOUT(zentrel.state() != QProcess::Running || connected(), 30000);
    QVERIFY2(zentrel.state() == QProcess::Running, zentrel.readAll().constData());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 60000);
    QVERIFY2(received.startsWith("\r\nDemo-Router remote console"), received.constData());
    QVERIFY2(received.endsWith("Goodbye.\r\n"), received.constData());

    for (const char *name : {"RESPONSE.TXT", "ROUTER.CFG"})
        QVERIFY2(fileBytes(home + "/" + name) == fileBytes(Source + "/demo/" + name), name);

    zentrel.terminate();
    QVERIFY(zentrel.waitForFinished(30000));
    QCOMPARE(zentrel.exitCode(), 0);
    QVERIFY(fileBytes(home + "/zentrel.ini").contains("TCP-Port=" + QByteArray::number(port)));
}

QTEST_MAIN(tst_Package)
#include "tst_package.moc"
