// tst_startup.cpp: how start-up ends, in a scratch directory with scripted dialog answers.
#include "app/shutdown.h"
#include "app/startup.h"
#include "console/session.h"
#include "platform/qt/qt_platform.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "tests/support/startup_rig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

using namespace zentrel;
using Answer = platform::Dialogs::Answer;
using Buttons = platform::Dialogs::Buttons;
using Icon = platform::Dialogs::Icon;

namespace {

const QByteArray RouterConfig = "Eth3,Sleeping\r\nDemo-Router >\r\n";
const QByteArray Responses = "\"Password:\",Router>\r\n";
const std::string ConfigQuestion =
    "Warning: The Router.cfg file doesn't exists. Do you want create this file now ?";
const std::string ResponsesWarning = "Warning: The RESPONSE.TXT file doesn't exists. The Emulator "
                                     "doesn't send responses to requests";

QList<QByteArray> iniLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const QByteArray &line : bytes.split('\n'))
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines;
}

// An even port that nothing listens on right now. Linux hands out odd
// ports for port 0, so the neighbours of one are tried.
quint16 freeEvenPort()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 0))
            continue;
        const quint16 given = probe.serverPort();
        if (given % 2 == 0)
            return given;
        for (const quint16 neighbour : {quint16(given - 1), quint16(given + 1)}) {
            QTcpServer other;
            if (neighbour > 1024 && other.listen(QHostAddress::Any, neighbour))
                return neighbour;
        }
    }
    return 0;
}

bool accepts(quint16 port)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    return client.waitForConnected(2000);
}

// A port that is free now and that the system will not hand to anyone else
// meanwhile: below the range it gives out for port 0 and for outgoing
// connections, so another test's listener or client cannot take it in the
// seconds before a started Zentrel binds it.
quint16 freeFixedPort()
{
    int lowest = 32768;
    QFile range("/proc/sys/net/ipv4/ip_local_port_range");
    if (range.open(QIODevice::ReadOnly))
        lowest = range.readAll().simplified().split(' ').value(0).toInt();
    const int from = 10000, to = lowest > 12000 ? lowest : 65536;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(from, to));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

using Rig = tests::StartupRig;

void prepare(const tests::ScratchDir &dir, const QByteArray &ini, bool config = true,
             bool responses = true)
{
    if (!ini.isNull())
        dir.write("zentrel.ini", ini);
    if (config)
        dir.write("ROUTER.CFG", RouterConfig);
    if (responses)
        dir.write("RESPONSE.TXT", Responses);
}

QString caption(const ui::Label &label) { return QString::fromStdString(label.caption()); }

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void complete_settings_data();
    void complete_settings();
    void complete_windowState();
    void hugeDelay_pauseStillEndsOnExit();
    void bothFilesMissing_answerNo();
    void probeVerdict_keptForTheEndOfAConnection_data();
    void probeVerdict_keptForTheEndOfAConnection();
    void configMissing_answerYes_createsIt();
    void configCannotBeCreated_toldAndGoesOn();
    void portError_data();
    void portError();
    void realSocket_listensOnRoundedPort();
    void realSocket_portError_data();
    void realSocket_portError();
    void unreadableDataFile_data();
    void unreadableDataFile();
    void secondCopy_refused();
    void secondCopyProcess_firstKeepsServing();
    void anyBytes_nothingCrashesNoDataFileChanges();
};

void tst_Startup::complete_settings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("delayCaption");
    QTest::addColumn<double>("delay");
    QTest::addColumn<QString>("portCaption");
    QTest::addColumn<int>("port");
    QTest::addColumn<QList<QByteArray>>("iniAfter");   // empty: not changed

    const QList<QByteArray> unchanged;
    const QList<QByteArray> portWritten{"[Settings]", "TCP-Port=1101"};
    QTest::newRow("no settings file") << QByteArray() << "Delay : 0 s" << 0.0
                                      << "TCP Port : 1101" << 1101 << portWritten;
    QTest::newRow("delay minus two")
        << QByteArray("[Settings]\r\nTCP-Port=1101\r\nDelay=-2\r\n") << "Delay : 0 s" << 0.0
        << "TCP Port : 1101" << 1101
        << QList<QByteArray>{"[Settings]", "TCP-Port=1101", "Delay=0"};
    QTest::newRow("delay one and a half")
        << QByteArray("[Settings]\r\nTCP-Port=1101\r\nDelay=1.5\r\n") << "Delay : 1.5 s" << 1.5
        << "TCP Port : 1101" << 1101 << unchanged;
    QTest::newRow("delay letters")
        << QByteArray("[Settings]\r\nTCP-Port=1101\r\nDelay=slow\r\n") << "Delay : 0 s" << 0.0
        << "TCP Port : 1101" << 1101 << unchanged;
    QTest::newRow("port zero") << QByteArray("[Settings]\r\nTCP-Port=0\r\n") << "Delay : 0 s"
                               << 0.0 << "TCP Port : 1101" << 1101 << portWritten;
    QTest::newRow("port letters") << QByteArray("[Settings]\r\nTCP-Port=telnet\r\n")
                                  << "Delay : 0 s" << 0.0 << "TCP Port : 1101" << 1101
                                  << portWritten;
    QTest::newRow("port 23.5 rounds up") << QByteArray("[Settings]\r\nTCP-Port=23.5\r\n")
                                         << "Delay : 0 s" << 0.0 << "TCP Port : 23.5" << 24
                                         << unchanged;
    QTest::newRow("port 22.5 rounds down") << QByteArray("[Settings]\r\nTCP-Port=22.5\r\n")
                                           << "Delay : 0 s" << 0.0 << "TCP Port : 22.5" << 22
                                           << unchanged;
    QTest::newRow("port in hex") << QByteArray("[Settings]\r\nTCP-Port=&H44D\r\n")
                                 << "Delay : 0 s" << 0.0 << "TCP Port : 1101" << 1101
                                 << unchanged;
    QTest::newRow("delay too large for a double")
        << QByteArray("[Settings]\r\nTCP-Port=1101\r\nDelay=1E999\r\n")
        << "Delay : 1.79769313486232E+308 s" << std::numeric_limits<double>::max()
        << "TCP Port : 1101" << 1101 << unchanged;
}

void tst_Startup::complete_settings()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, delayCaption);
    QFETCH(double, delay);
    QFETCH(QString, portCaption);
    QFETCH(int, port);
    QFETCH(QList<QByteArray>, iniAfter);

    tests::ScratchDir dir;
    prepare(dir, ini);
    Rig rig;
    rig.start();

    QCOMPARE(caption(rig.form.LBL_Delay), delayCaption);
    QCOMPARE(rig.shared.responseDelay, delay);
    QCOMPARE(caption(rig.form.LBL_Port), portCaption);
    QCOMPARE(rig.network.calls(), std::vector<std::string>{"listen " + std::to_string(port)});
    QVERIFY(!rig.form.LBL_titre.visible());
    QVERIFY(!rig.form.Timer1.enabled());
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(rig.files.alive(), 0);
    if (iniAfter.isEmpty())
        QCOMPARE(dir.read("zentrel.ini"), ini);
    else
        QCOMPARE(iniLines(dir.read("zentrel.ini")), iniAfter);
}

void tst_Startup::complete_windowState()
{
    tests::ScratchDir dir;
    prepare(dir, "[Settings]\r\nPositionX=600\r\nPositionY=450\r\nTCP-Port=1101\r\n");
    Rig rig;
    rig.shared.stopRequested = 1;
    rig.shared.connectionIndex = 7;
    rig.start();

    auto &form = rig.form;
    QCOMPARE(form.height(), ui::CompactHeight);
    QCOMPARE(form.left(), 600.0f);
    QCOMPARE(form.top(), 450.0f);
    QCOMPARE(QString::fromStdString(form.caption()), QString("Zentrel 2.0"));
    QCOMPARE(QString::fromStdString(form.helpFile()), QString("Zentrel.chm"));
    QVERIFY(!form.topmost());
    QVERIFY(form.LBL_ProgName.visible());
    QCOMPARE(caption(form.LBL_ProgName), QString("Zentrel"));
    QVERIFY(!form.LBL_titre.visible());
    QVERIFY(!form.FRM_Yellow.visible());
    QVERIFY(!form.FRM_Red.visible());
    QVERIFY(!form.frm_green.visible());
    QCOMPARE(form.FRM_Winsock.backColour(), ui::Green);
    QCOMPARE(form.FRM_On.backColour(), ui::Green);
    QVERIFY(form.TXT_OutPut.visible());
    QCOMPARE(form.TXT_OutPut.text(), std::string());
    QVERIFY(!form.TXT_Input.visible());
    QVERIFY(form.CMD_Quitter.enabled());
    QVERIFY(!form.CMD_ReceivedCommands.enabled());
    QVERIFY(form.CMD_OriginalConfig.enabled());
    QVERIFY(form.CMD_Answers.enabled());
    QCOMPARE(caption(form.LBL_Answers), QString("Answers : Yes"));
    QVERIFY(!form.Timer1.enabled());
    QCOMPARE(rig.shared.stopRequested, std::int16_t(0));
    QCOMPARE(rig.shared.connectionIndex, 0);
    QVERIFY(!form.unloaded());
}

// The operator asked for an endless pause; exiting must still end it.
void tst_Startup::hugeDelay_pauseStillEndsOnExit()
{
    tests::ScratchDir dir;
    prepare(dir, "[Settings]\r\nDelay=9E999\r\n");
    Rig rig;
    rig.start();
    QVERIFY(std::isfinite(rig.shared.responseDelay));
    // A session's first pause, at that delay, never ends by itself.
    console::SessionObserver nobody;
    console::SessionSetup setup;
    setup.script = console::parseScript("a\r\n");
    setup.delay = [&] { return rig.shared.responseDelay; };
    console::Session session(rig.loop, nobody, std::move(setup));
    const double start = rig.loop.now();
    rig.loop.at(start + 3600, [&] { session.stop(); });
    session.start();
    rig.loop.run();
    QVERIFY(session.ended());
    QCOMPARE(rig.loop.now(), start + 3600);
    QCOMPARE(rig.loop.pendingTimers(), std::size_t(0));
}

void tst_Startup::bothFilesMissing_answerNo()
{
    tests::ScratchDir dir;
    prepare(dir, QByteArray(), false, false);
    Rig rig;
    rig.dialogs.answers = {Answer::No};
    rig.start();

    QCOMPARE(rig.dialogs.shown.size(), std::size_t(2));
    QCOMPARE(rig.dialogs.shown[0].text, ConfigQuestion);
    QCOMPARE(rig.dialogs.shown[0].title, std::string("No File"));
    QCOMPARE(rig.dialogs.shown[0].icon, Icon::Exclamation);
    QCOMPARE(rig.dialogs.shown[0].buttons, Buttons::YesNo);
    QCOMPARE(rig.dialogs.shown[1].text, ResponsesWarning);
    QCOMPARE(rig.dialogs.shown[1].title, std::string("No File"));
    QCOMPARE(rig.dialogs.shown[1].icon, Icon::Exclamation);
    QCOMPARE(rig.dialogs.shown[1].buttons, Buttons::Ok);

    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(!rig.form.CMD_Answers.enabled());
    QCOMPARE(caption(rig.form.LBL_Answers), QString("Responses : No"));
    QVERIFY(!QFileInfo::exists(dir.file("ROUTER.CFG")));
    QVERIFY(!rig.form.LBL_titre.visible());
    QCOMPARE(caption(rig.form.LBL_Port), QString("TCP Port : 1101"));
    QVERIFY(rig.listening());
}

void tst_Startup::probeVerdict_keptForTheEndOfAConnection_data()
{
    QTest::addColumn<bool>("config");
    QTest::addColumn<bool>("responses");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("configAvailable");
    QTest::addColumn<bool>("responsesAvailable");
    QTest::newRow("both there") << true << true << int(Answer::No) << true << true;
    QTest::newRow("config missing, No") << false << true << int(Answer::No) << false << true;
    QTest::newRow("config missing, Yes") << false << true << int(Answer::Yes) << true << true;
    QTest::newRow("responses missing") << true << false << int(Answer::No) << true << false;
    QTest::newRow("both missing, No") << false << false << int(Answer::No) << false << false;
}

void tst_Startup::probeVerdict_keptForTheEndOfAConnection()
{
    QFETCH(bool, config);
    QFETCH(bool, responses);
    QFETCH(int, answer);
    QFETCH(bool, configAvailable);
    QFETCH(bool, responsesAvailable);
    tests::ScratchDir dir;
    prepare(dir, QByteArray(), config, responses);
    Rig rig;
    rig.dialogs.answers = {Answer(answer)};
    rig.start();
    QCOMPARE(rig.shared.configAvailable, configAvailable);
    QCOMPARE(rig.shared.responsesAvailable, responsesAvailable);
    QCOMPARE(rig.form.CMD_OriginalConfig.enabled(), configAvailable);
    QCOMPARE(rig.form.CMD_Answers.enabled(), responsesAvailable);
}

void tst_Startup::configMissing_answerYes_createsIt()
{
    tests::ScratchDir dir;
    prepare(dir, QByteArray(), false, true);
    Rig rig;
    rig.dialogs.answers = {Answer::Yes};
    rig.start();

    QCOMPARE(rig.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.shown[0].text, ConfigQuestion);
    const QByteArray created = dir.read("ROUTER.CFG");
    QCOMPARE(created.size(), 376);
    QVERIFY(created.startsWith("Router Configurator: v 0.8b\r\nOS: 12.3.0 Rev .3C"));
    QVERIFY(created.endsWith("Router Name : Demo-Router\r\nDemo-Router >\r\n"));
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.form.CMD_Answers.enabled());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(rig.listening());
}

// As root a read-only directory does not stop the creation; a ROUTER.CFG
// that is a link into a missing directory does.
void tst_Startup::configCannotBeCreated_toldAndGoesOn()
{
    tests::ScratchDir dir;
    prepare(dir, QByteArray(), false, true);
    QVERIFY(QFile::link(dir.file("gone/ROUTER.CFG"), dir.file("ROUTER.CFG")));
    Rig rig;
    rig.dialogs.answers = {Answer::Yes};
    rig.start();

    QCOMPARE(rig.dialogs.shown.size(), std::size_t(2));
    QCOMPARE(rig.dialogs.shown[0].text, ConfigQuestion);
    const QString told = QString::fromStdString(rig.dialogs.shown[1].text);
    const QString lead = "The Router.cfg file could not be created: ";
    QVERIFY2(told.startsWith(lead) && told.size() > lead.size(), qPrintable(told));
    QCOMPARE(rig.dialogs.shown[1].title, std::string("Error"));
    QCOMPARE(rig.dialogs.shown[1].icon, Icon::Critical);
    QCOMPARE(rig.dialogs.shown[1].buttons, Buttons::Ok);

    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.form.CMD_Answers.enabled());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(QFileInfo(dir.file("ROUTER.CFG")).isSymLink());
    QVERIFY(!QFileInfo::exists(dir.file("gone")));
    QVERIFY(!rig.form.LBL_titre.visible());
    QVERIFY(rig.listening());
}

void tst_Startup::portError_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<int>("listenFailsWith");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("alarm");
    QTest::addColumn<QString>("portText");

    const QString portError = "Error : Port Not Open.";
    const QString unknown = "Unknown Error !!!";
    QTest::newRow("above 65535") << QByteArray("70000") << 0 << portError << true << "70000";
    QTest::newRow("negative") << QByteArray("-23") << 0 << portError << true << "-23";
    QTest::newRow("rounds to 0") << QByteArray("0.3") << 0 << portError << true << "0.3";
    QTest::newRow("in use") << QByteArray("1101") << 380 << portError << true << "1101";
    QTest::newRow("beyond 32 bits") << QByteArray("1E10") << 0 << unknown << false
                                    << "10000000000";
    QTest::newRow("largest double") << QByteArray("1E999") << 0 << unknown << false
                                    << "1.79769313486232E+308";
    QTest::newRow("other socket failure") << QByteArray("1101") << 10048 << unknown << false
                                          << "1101";
}

void tst_Startup::portError()
{
    QFETCH(QByteArray, port);
    QFETCH(int, listenFailsWith);
    QFETCH(QString, status);
    QFETCH(bool, alarm);
    QFETCH(QString, portText);

    tests::ScratchDir dir;
    prepare(dir, "[Settings]\r\nDelay=2\r\nTCP-Port=" + port + "\r\n");
    Rig rig;
    rig.network.listenFailsWith = listenFailsWith;
    rig.start();

    QVERIFY(rig.form.LBL_titre.visible());
    QCOMPARE(caption(rig.form.LBL_titre), status);
    QCOMPARE(rig.form.Timer1.enabled(), alarm);
    if (alarm)
        QCOMPARE(rig.form.Timer1.interval(), 300);
    QCOMPARE(caption(rig.form.LBL_Delay), QString("Delay : 2 s"));
    QCOMPARE(caption(rig.form.LBL_Port), "TCP Port : " + portText);
    QVERIFY(rig.dialogs.shown.empty());
    QVERIFY(!rig.form.unloaded());
}

void tst_Startup::realSocket_listensOnRoundedPort()
{
    const quint16 port = freeEvenPort();
    QVERIFY(port != 0);
    tests::ScratchDir dir;
    const QByteArray half = QByteArray::number(port) + ".5";   // halves go to the even port
    prepare(dir, "[Settings]\r\nTCP-Port=" + half + "\r\n");
    Rig rig(true);
    rig.start();

    QCOMPARE(caption(rig.form.LBL_Port), "TCP Port : " + QString::fromLatin1(half));
    QVERIFY(!rig.form.LBL_titre.visible());
    QTcpSocket client;
    bool connected = false;
    QObject::connect(&client, &QTcpSocket::connected, [&] { connected = true; });
    client.connectToHost(QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(connected, 30000);
    rig.qt.platform().network.close();
}

void tst_Startup::realSocket_portError_data()
{
    QTest::addColumn<bool>("inUse");
    QTest::newRow("port in use") << true;
    QTest::newRow("port 70000") << false;
}

void tst_Startup::realSocket_portError()
{
    QFETCH(bool, inUse);

    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::Any, 0));
    tests::ScratchDir dir;
    const QByteArray port = inUse ? QByteArray::number(busy.serverPort()) : "70000";
    prepare(dir, "[Settings]\r\nTCP-Port=" + port + "\r\n");
    Rig rig(true);
    rig.start();

    QVERIFY(rig.form.LBL_titre.visible());
    QCOMPARE(caption(rig.form.LBL_titre), QString("Error : Port Not Open."));
    QVERIFY(rig.form.Timer1.enabled());
    QCOMPARE(rig.form.Timer1.interval(), 300);
}

void tst_Startup::unreadableDataFile_data()
{
    QTest::addColumn<QString>("directoryNamed");
    QTest::newRow("RESPONSE.TXT is a directory") << "RESPONSE.TXT";
    QTest::newRow("ROUTER.CFG is a directory") << "ROUTER.CFG";
}

// Running as root, permissions do not stop a read; a directory does.
void tst_Startup::unreadableDataFile()
{
    QFETCH(QString, directoryNamed);

    tests::ScratchDir dir;
    const QByteArray ini = "[Settings]\r\nDelay=-5\r\nTCP-Port=0\r\n";
    prepare(dir, ini, directoryNamed != "ROUTER.CFG", directoryNamed != "RESPONSE.TXT");
    QVERIFY(QDir(dir.path()).mkdir(directoryNamed));
    Rig rig;
    rig.start();

    QVERIFY(rig.form.LBL_titre.visible());
    QCOMPARE(caption(rig.form.LBL_titre), QString("Unknown Error !!!"));
    QVERIFY(!rig.form.Timer1.enabled());
    QCOMPARE(caption(rig.form.LBL_Delay), QString("Delay : 1000 ms"));
    QCOMPARE(caption(rig.form.LBL_Port), QString("TCP Port : 00000"));
    QCOMPARE(rig.shared.responseDelay, 0.0);
    QVERIFY(rig.network.calls().empty());
    QVERIFY(rig.dialogs.shown.empty());
    QCOMPARE(rig.files.alive(), 0);
    QCOMPARE(dir.read("zentrel.ini"), ini);
}

void tst_Startup::secondCopy_refused()
{
    tests::ScratchDir dir;
    const QByteArray ini = "[Settings]\r\nPositionX=100\r\nPositionY=200\r\nTCP-Port=1101\r\n";
    prepare(dir, ini, false, false);   // a probe would ask about the missing files
    Rig rig;
    rig.guard.another = true;
    rig.start();

    QCOMPARE(rig.dialogs.shown.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.shown[0].text, std::string("Software already loaded."));
    QCOMPARE(rig.dialogs.shown[0].title, std::string("Error"));
    QCOMPARE(rig.dialogs.shown[0].icon, Icon::Critical);
    QCOMPARE(rig.dialogs.shown[0].buttons, Buttons::Ok);
    QVERIFY(rig.form.unloaded());
    QCOMPARE(rig.shared.stopRequested, std::int16_t(1));
    QCOMPARE(rig.form.left(), 0.0f);
    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(!rig.listening());
    QCOMPARE(dir.read("zentrel.ini"), ini);
    QVERIFY(!QFileInfo::exists(dir.file("ROUTER.CFG")));
}

// Two real copies for one user. The refused copy's message box has no
// screen on the offscreen platform: it is printed, and the copy ends by
// itself; a third copy with a guard of its own starts after it and
// shows when the refused one would have been listening.
void tst_Startup::secondCopyProcess_firstKeepsServing()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QDir top(root.path());
    for (const char *name : {"run", "tmp", "run-c", "tmp-c", "a", "b", "c"})
        QVERIFY(top.mkdir(name));
    for (const char *run : {"run", "run-c"})
        QFile::setPermissions(top.filePath(run),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    quint16 ports[3] = {};
    for (int i = 0; i < 3; ++i) {
        do
            ports[i] = freeFixedPort();
        while (ports[i] && std::count(ports, ports + i, ports[i]));
        QVERIFY(ports[i]);
    }
    const char *dirs[3] = {"a", "b", "c"};
    QByteArray inis[3];
    for (int i = 0; i < 3; ++i) {
        // A copy that got past the guard would write Delay=0 back.
        inis[i] = "[Settings]\r\nTCP-Port=" + QByteArray::number(ports[i]) + "\r\nDelay=-1\r\n";
        const QDir copyDir(top.filePath(dirs[i]));
        for (auto [name, bytes] : {std::pair{"zentrel.ini", inis[i]},
                                   std::pair{"ROUTER.CFG", RouterConfig},
                                   std::pair{"RESPONSE.TXT", Responses}}) {
            QFile file(copyDir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
    }

    auto environment = [&](const char *run, const char *tmp) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", top.filePath(run));
        env.insert("TMPDIR", top.filePath(tmp));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    };
    QProcess copies[3];
    for (int i = 0; i < 3; ++i) {
        copies[i].setProgram(ZENTREL_BINARY);
        copies[i].setWorkingDirectory(top.filePath(dirs[i]));
        copies[i].setProcessEnvironment(i == 2 ? environment("run-c", "tmp-c")
                                               : environment("run", "tmp"));
        copies[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    auto cleanUp = qScopeGuard([&] {
        for (QProcess &copy : copies)
            if (copy.state() != QProcess::NotRunning) {
                copy.kill();
                copy.waitForFinished(10000);
            }
    });

    copies[0].start();
    QVERIFY(copies[0].waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(accepts(ports[0]), 60000);

    copies[1].start();
    QVERIFY(copies[1].waitForStarted(30000));
    copies[2].start();
    QVERIFY(copies[2].waitForStarted(30000));
    QTRY_VERIFY_WITH_TIMEOUT(accepts(ports[2]), 60000);

    QVERIFY(!accepts(ports[1]));
    QFile second(top.filePath("b/zentrel.ini"));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), inis[1]);
    QVERIFY(accepts(ports[0]));

    QTRY_COMPARE_WITH_TIMEOUT(copies[1].state(), QProcess::NotRunning, 30000);
    QCOMPARE(copies[1].exitCode(), 0);
    QVERIFY(accepts(ports[0]));

    // The first copy ends as the operator's Exit does: it saves its position.
    copies[0].terminate();
    QVERIFY(copies[0].waitForFinished(60000));
    QFile first(top.filePath("a/zentrel.ini"));
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray saved = first.readAll();
    QVERIFY2(saved.contains("PositionX=") && saved.contains("PositionY="), saved.constData());
    QVERIFY(saved.contains("Delay=0"));
}

void tst_Startup::anyBytes_nothingCrashesNoDataFileChanges()
{
    QRandomGenerator random(376);
    auto junk = [&](int longest) {
        QByteArray bytes(int(random.bounded(longest + 1)), Qt::Uninitialized);
        const QByteArray likely("0123456789.&HhOoEe+- \t\r\n,\"=[]");
        for (char &c : bytes)
            c = random.bounded(2) ? char(random.bounded(256))
                                  : likely[int(random.bounded(likely.size()))];
        return bytes;
    };

    Rig rig;   // the Qt services are shared; each round gets a fresh window
    for (int round = 0; round < 60; ++round) {
        tests::ScratchDir dir;
        QByteArray ini = "[Settings]\r\n";
        for (const char *key : {"TCP-Port=", "Delay=", "PositionX=", "PositionY="})
            ini += key + junk(round % 3 == 0 ? 400 : 20) + "\r\n";
        if (round % 5 == 0)
            ini = junk(3000);
        const QByteArray config = junk(2000);
        const QByteArray responses = junk(2000);
        dir.write("zentrel.ini", ini);
        dir.write("ROUTER.CFG", config);
        dir.write("RESPONSE.TXT", responses);

        ui::ZentrelFRM form;
        ui::Shared shared;
        tests::FakeNetwork network{rig.loop};
        platform::Platform platform{network, rig.platform.profile, rig.platform.files,
                                    rig.loop, rig.dialogs, rig.guard};
        app::startup(form, platform, shared);

        QVERIFY(std::isfinite(shared.responseDelay) && shared.responseDelay >= 0);
        QVERIFY(form.LBL_titre.visible() != network.listening());
        QCOMPARE(rig.files.alive(), 0);
        QCOMPARE(dir.read("ROUTER.CFG"), config);
        QCOMPARE(dir.read("RESPONSE.TXT"), responses);
        QVERIFY(rig.dialogs.shown.empty());
    }
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
