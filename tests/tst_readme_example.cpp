// tst_readme_example.cpp: the README's worked example, demo files and demo/login.exp, against a real Zentrel.
#include "platform/qt/qt_platform.h"
#include "ui/qt/qt_view.h"
#include "tests/support/live_zentrel.h"
#include "tests/support/current_dir.h"
#include "tests/support/zentrel_process.h"
#include "ui/window_model.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace zentrel;
using tests::freePort;

namespace {

const QString Source = QStringLiteral(ZENTREL_SOURCE_DIR);
// The command the README gives, run from the top of the repository.
const QString ExpectScript = QStringLiteral("demo/login.exp");

// What login.exp types, one line per prompt of the demo script.
const QStringList Commands{"admin",          "secret",      "show version",  "show interfaces",
                           "configure terminal", "interface Eth1", "no shutdown", "exit",
                           "end",            "write memory", "exit"};

// The demo's three files, as `make run` puts them, with the port moved to a free one.
// Either kind of directory will do: ScratchDir or ZentrelProcess.
template <typename Directory>
QString copyDemo(const Directory &dir, quint16 port)
{
    for (const char *name : {"RESPONSE.TXT", "ROUTER.CFG"}) {
        QFile demo(Source + "/demo/" + name);
        if (!demo.open(QIODevice::ReadOnly))
            return "cannot read demo/" + QString(name);
        dir.write(name, demo.readAll());
    }
    QFile ini(Source + "/demo/zentrel.ini");
    if (!ini.open(QIODevice::ReadOnly))
        return "cannot read demo/zentrel.ini";
    QString settings = QString::fromLatin1(ini.readAll());
    static const QRegularExpression portLine("^TCP-Port=[^\\r\\n]*",
                                             QRegularExpression::MultilineOption);
    if (!settings.contains(portLine))
        return "demo/zentrel.ini sets no TCP-Port";
    settings.replace(portLine, "TCP-Port=" + QString::number(port));
    dir.write("zentrel.ini", settings.toLatin1());
    return {};
}

// Runs the README's expect command against the port until it ends.
struct ExpectRun {
    QProcess process;
    QByteArray transcript;

    explicit ExpectRun(quint16 port)
    {
        process.setWorkingDirectory(Source);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead,
                         [this] { transcript += process.readAll(); });
        process.start("expect", {ExpectScript, "127.0.0.1", QString::number(port)});
    }
    ~ExpectRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class tst_ReadmeExample : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readme_givesTheCommand();
    void loginScript_runsToTheEndAgainstTheProgram();
    void loginScript_commandsRecordedInPanel();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
};

void tst_ReadmeExample::initTestCase()
{
    for (const char *tool : {"expect", "telnet"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed (scripts/install-deps)").arg(tool)));
    QVERIFY2(QFile::exists(ZENTREL_BINARY), ZENTREL_BINARY);
    // The in-process Zentrel's instance lock stays apart from every other copy.
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toLocal8Bit());
    qputenv("TMPDIR", m_runtime->path().toLocal8Bit());
}

// The test runs what the README tells a new user to run; if one changes, so must the other.
void tst_ReadmeExample::readme_givesTheCommand()
{
    QFile readme(Source + "/README.md");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QByteArray text = readme.readAll();
    QVERIFY(text.contains("make run"));
    QVERIFY(text.contains("expect " + ExpectScript.toLatin1()));
    QVERIFY(QFile::exists(Source + "/" + ExpectScript));
}

// build/zentrel started as `make run` starts it, offscreen; expect logs in,
// walks through every prompt and sees Zentrel hang up; SIGTERM then ends
// Zentrel as its Exit button does.
void tst_ReadmeExample::loginScript_runsToTheEndAgainstTheProgram()
{
    tests::ZentrelProcess zentrel;
    const quint16 port = freePort();
    QVERIFY(port);
    const QString copied = copyDemo(zentrel, port);
    QVERIFY2(copied.isEmpty(), qPrintable(copied));
    const QString failure = zentrel.startInPlace(port);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    {
        ExpectRun run(port);
        QVERIFY2(run.process.waitForStarted(30000), qPrintable(run.process.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 90000);
        QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
                 run.transcript.constData());
        // Every prompt of the demo, in order, and the script's own last word.
        qsizetype from = 0;
        for (const char *text : {"Username: ", "Password: ", "Last login:", "Router Configurator",
                                 "Interface   Address", "Demo-Router(config)#",
                                 "Demo-Router(config-if)#", "[OK]", "Goodbye.",
                                 "login.exp: session complete"}) {
            const qsizetype at = run.transcript.indexOf(text, from);
            QVERIFY2(at >= 0, qPrintable(QString("missing \"%1\" in:\n%2")
                                             .arg(text, QString::fromLatin1(run.transcript))));
            from = at;
        }
    }

    QVERIFY(zentrel.running());   // it waits for the next client
    QVERIFY2(zentrel.terminate(30000), "Zentrel did not end with status 0 on SIGTERM");
    // Its Exit saved the window position next to the settings the user gave.
    const QByteArray ini = zentrel.read("zentrel.ini");
    QVERIFY2(ini.contains("TCP-Port=" + QByteArray::number(port)) && ini.contains("PositionX="),
             ini.constData());
}

// The same run against Zentrel's own window in this process, where the
// received-commands panel can be read: every line login.exp typed is there,
// in order, and the operator can open it.
void tst_ReadmeExample::loginScript_commandsRecordedInPanel()
{
    tests::ScratchDir dir;
    const quint16 port = freePort();
    QVERIFY(port);
    const QString copied = copyDemo(dir, port);
    QVERIFY2(copied.isEmpty(), qPrintable(copied));

    tests::LiveZentrel live;
    QVERIFY(live.start());
    auto &[qt, form, view, application] = live;

    ExpectRun run(port);
    QVERIFY2(run.process.waitForStarted(30000), qPrintable(run.process.errorString()));
    // The playback runs inside the connection's handler, expect's output with it.
    QTRY_COMPARE_WITH_TIMEOUT(run.process.state(), QProcess::NotRunning, 90000);
    QVERIFY2(run.process.exitCode() == 0, run.transcript.constData());
    QTRY_COMPARE_WITH_TIMEOUT(form.FRM_Winsock.backColour(), ui::Green, 30000);

    const QString recorded = QString::fromLatin1(form.TXT_Input.text());
    QCOMPARE(recorded, Commands.join("\r\n") + "\r\n");
    QVERIFY(form.CMD_ReceivedCommands.enabled());
    form.close();
}

QTEST_MAIN(tst_ReadmeExample)
#include "tst_readme_example.moc"
