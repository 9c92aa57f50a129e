// tst_e2e_telnet.cpp: the real zentrel binary serving Debian's telnet (driven by expect) and nc.
#include "tests/support/zentrel_process.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace zentrel;

namespace {

// A small login dialogue: prompts without line ends, a quoted answer that
// spans lines, an empty line that sends nothing.
const QByteArray Script = "\"Welcome to Demo-Router\r\n"
                          "\"\r\n"
                          "Username: \r\n"
                          "  Password: \r\n"
                          "\r\n"
                          "\"\r\n"
                          "Demo-Router>\"\r\n"
                          "\"\r\n"
                          "Zentrel test router, version 2.0, uptime 5 days\r\n"
                          "Demo-Router>\",\"\r\n"
                          "Goodbye.\r\n"
                          "\"\r\n";

// What a client receives: the items one after the other, nothing added.
const QByteArray Wire = "Welcome to Demo-Router\r\n"
                        "Username: "
                        "Password: "
                        "\r\nDemo-Router>"
                        "\r\nZentrel test router, version 2.0, uptime 5 days\r\nDemo-Router>"
                        "\r\nGoodbye.\r\n";

// Logs in, types a command at the prompt, and waits for Zentrel to hang up.
const char *const LoginExpect = R"(set timeout 20
set port [lindex $argv 0]
proc step {pattern} {
    expect {
        $pattern {}
        timeout { puts "\nTIMEOUT waiting for $pattern"; exit 2 }
        eof { puts "\nEOF waiting for $pattern"; exit 3 }
    }
}
spawn telnet 127.0.0.1 $port
step "Username: "
send "admin\r"
step "Password: "
send "secret\r"
step "Demo-Router>"
send "show version\r"
step "version 2.0, uptime 5 days"
step "Goodbye."
step "Connection closed by foreign host."
expect eof
exit 0
)";

} // namespace

class tst_E2eTelnet : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void telnet_expectLogsInAndIsHungUpOn();
    void nc_receivesExactBytesThenClose();
    void nc_typingClientGetsExactBytes();
    void nc_secondClientWaitsForFirst();

private:
    QString run(const QString &program, const QStringList &arguments, const QByteArray &input,
                QByteArray *output, int *exitCode);

    std::unique_ptr<tests::ZentrelProcess> m_zentrel;
    quint16 m_port = 0;
};

void tst_E2eTelnet::initTestCase()
{
    for (const char *tool : {"expect", "telnet", "nc"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed (scripts/install-deps)").arg(tool)));
    QVERIFY2(QFile::exists(ZENTREL_BINARY), ZENTREL_BINARY);
}

void tst_E2eTelnet::init()
{
    m_zentrel = std::make_unique<tests::ZentrelProcess>();
    m_zentrel->write("login.exp", LoginExpect);
    const QString failure = m_zentrel->start(Script, "0.05");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_port = m_zentrel->port();
}

void tst_E2eTelnet::cleanup()
{
    m_zentrel.reset();   // SIGTERM unloads the window as Exit does
}

// Runs a client to its end; returns a description of what went wrong, or "".
QString tst_E2eTelnet::run(const QString &program, const QStringList &arguments,
                           const QByteArray &input, QByteArray *output, int *exitCode)
{
    QProcess client;
    client.setWorkingDirectory(m_zentrel->directory());
    client.start(program, arguments);
    if (!client.waitForStarted(20000))
        return program + ": " + client.errorString();
    client.write(input);   // stdin stays open: nc would quit at its end
    if (!client.waitForFinished(40000)) {
        client.kill();
        client.waitForFinished(5000);
        *output = client.readAllStandardOutput();
        return program + " did not finish; it got: " + QString::fromLatin1(*output);
    }
    *output = client.readAllStandardOutput();
    *exitCode = client.exitCode();
    return {};
}

void tst_E2eTelnet::telnet_expectLogsInAndIsHungUpOn()
{
    QByteArray transcript;
    int exitCode = -1;
    const QString failure = run("expect", {"-f", m_zentrel->file("login.exp"), QString::number(m_port)},
                                {}, &transcript, &exitCode);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY2(exitCode == 0, transcript.constData());
    // The items arrived in script order, the typed command among them.
    const QList<QByteArray> seen{"Welcome to Demo-Router", "Username: ", "Password: ",
                                "Demo-Router>", "version 2.0, uptime 5 days", "Goodbye.",
                                "Connection closed by foreign host."};
    qsizetype from = 0;
    for (const QByteArray &text : seen) {
        const qsizetype at = transcript.indexOf(text, from);
        QVERIFY2(at >= 0, qPrintable("missing " + text + " in:\n" + transcript));
        from = at + text.size();
    }
    QVERIFY(m_zentrel->running());
}

// nc -d reads nothing from its input and ends when Zentrel closes the connection.
void tst_E2eTelnet::nc_receivesExactBytesThenClose()
{
    for (int client = 1; client <= 2; ++client) {   // the next client is served the same way
        QByteArray received;
        int exitCode = -1;
        const QString failure =
            run("nc", {"-d", "127.0.0.1", QString::number(m_port)}, {}, &received, &exitCode);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(received, Wire);
    }
    QVERIFY(m_zentrel->running());
}

// A plain nc session that types while the script plays; nc itself only ends
// when its own input does.
void tst_E2eTelnet::nc_typingClientGetsExactBytes()
{
    QProcess nc;
    QByteArray received;
    connect(&nc, &QProcess::readyReadStandardOutput, this,
            [&] { received += nc.readAllStandardOutput(); });
    nc.start("nc", {"127.0.0.1", QString::number(m_port)});
    QVERIFY(nc.waitForStarted(20000));
    QTRY_VERIFY_WITH_TIMEOUT(received.contains("Username: "), 20000);
    nc.write("admin\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(received.contains("Password: "), 20000);
    nc.write(QByteArray("s3cr\xe9t\0\r\n", 9));
    nc.write("show version\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(received, Wire, 20000);
    nc.closeWriteChannel();
    QVERIFY(nc.waitForFinished(20000));
    QCOMPARE(received, Wire);

    // Zentrel goes on serving.
    QByteArray next;
    int exitCode = -1;
    const QString failure =
        run("nc", {"-d", "127.0.0.1", QString::number(m_port)}, {}, &next, &exitCode);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(next, Wire);
}

void tst_E2eTelnet::nc_secondClientWaitsForFirst()
{
    QProcess first, second;
    QByteArray firstGot, secondGot;
    connect(&first, &QProcess::readyReadStandardOutput, this,
            [&] { firstGot += first.readAllStandardOutput(); });
    connect(&second, &QProcess::readyReadStandardOutput, this,
            [&] { secondGot += second.readAllStandardOutput(); });
    first.start("nc", {"-d", "127.0.0.1", QString::number(m_port)});
    QVERIFY(first.waitForStarted(20000));
    QTRY_VERIFY_WITH_TIMEOUT(firstGot.startsWith("Welcome"), 20000);
    second.start("nc", {"-d", "127.0.0.1", QString::number(m_port)});
    QVERIFY(second.waitForStarted(20000));

    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 20000);
    QCOMPARE(firstGot, Wire);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(secondGot, Wire);
}

QTEST_GUILESS_MAIN(tst_E2eTelnet)
#include "tst_e2e_telnet.moc"
