// tst_shutdown_process.cpp: ending Zentrel in the middle of a playback or a preview, for real.
#include "platform/qt/qt_platform.h"
#include "ui/qt/qt_view.h"
#include "tests/support/live_zentrel.h"
#include "tests/support/current_dir.h"
#include "tests/support/open_descriptors.h"
#include "tests/support/zentrel_process.h"
#include "ui/window_model.h"

#include <QAbstractButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <memory>

using namespace zentrel;
using tests::freePort;
using tests::ScratchDir;

namespace {

constexpr int ItemCount = 20;

// Items "<01>" to "<20>", one a line: the client counts them by their '<'.
QByteArray script()
{
    QByteArray bytes;
    for (int i = 1; i <= ItemCount; ++i)
        bytes += QByteArray("<") + QByteArray::number(i).rightJustified(2, '0') + ">\r\n";
    return bytes;
}

QByteArray itemsUpTo(int count)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i)
        bytes += QByteArray("<") + QByteArray::number(i).rightJustified(2, '0') + ">";
    return bytes;
}

// The three files of a start-up that opens no dialog.
void writeFiles(const ScratchDir &dir, quint16 port, double delay)
{
    dir.write("RESPONSE.TXT", script());
    dir.write("ROUTER.CFG", tests::DefaultRouterConfig);
    dir.write("zentrel.ini", "[Settings]\r\nTCP-Port=" + QByteArray::number(port)
                                 + "\r\nDelay=" + QByteArray::number(delay) + "\r\n");
}

// A loopback client that keeps everything it receives.
struct Client {
    QTcpSocket socket;
    QByteArray received;
    std::function<void()> onItems;

    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            received += socket.readAll();
            if (onItems)
                onItems();
        });
    }
    int items() const { return int(received.count('<')); }
    // Connects afresh, dropping any earlier attempt.
    bool connectTo(quint16 port)
    {
        socket.abort();
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(1000);
    }
};

QAbstractButton *button(const ui::QtView &view, const char *name)
{
    return view.widget()->findChild<QAbstractButton *>(name);
}

} // namespace

class tst_ShutdownProcess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signal_duringPlayback_stopsAndExitsCleanly();
    void signals_strayIgnoredHangupShutsDown_data();
    void signals_strayIgnoredHangupShutsDown();
    void exitClick_duringPreview_unwinds();
    void exitClick_duringPlayback_unwinds();

private:
    // Keeps the instance lock and temporary files of this test apart from
    // every other copy of Zentrel on the machine.
    std::unique_ptr<QTemporaryDir> m_runtime;
};

void tst_ShutdownProcess::initTestCase()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toLocal8Bit());
    qputenv("TMPDIR", m_runtime->path().toLocal8Bit());
}

// SIGTERM reaches the program as an unload of its window, as Exit does.
void tst_ShutdownProcess::signal_duringPlayback_stopsAndExitsCleanly()
{
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(script(), "0.2");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const quint16 port = zentrel.port();

    Client client;
    QVERIFY(client.connectTo(port));

    int itemsAtSignal = 0;
    client.onItems = [&] {
        if (!itemsAtSignal && client.items() >= 2) {
            itemsAtSignal = client.items();
            ::kill(zentrel.pid(), SIGTERM);
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT(itemsAtSignal > 0, 30000);

    // Finished already, or finishing: either way within the timeout.
    QTRY_VERIFY_WITH_TIMEOUT(!zentrel.running(), 30000);
    QVERIFY2(zentrel.terminate(0), zentrel.output().constData());   // ended with status 0
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, 30000);

    // At most the item that was already on its way when the signal was sent.
    QVERIFY2(client.items() <= itemsAtSignal + 1, client.received.constData());
    QCOMPARE(client.received, itemsUpTo(client.items()));

    const QByteArray ini = zentrel.read("zentrel.ini");
    QVERIFY2(ini.contains("TCP-Port=" + QByteArray::number(port)), ini.constData());
    static const QRegularExpression positionX("^PositionX=-?[0-9.eE+-]+\\r?$",
                                              QRegularExpression::MultilineOption);
    static const QRegularExpression positionY("^PositionY=-?[0-9.eE+-]+\\r?$",
                                              QRegularExpression::MultilineOption);
    QVERIFY2(positionX.match(QString::fromLatin1(ini)).hasMatch(), ini.constData());
    QVERIFY2(positionY.match(QString::fromLatin1(ini)).hasMatch(), ini.constData());
}

void tst_ShutdownProcess::signals_strayIgnoredHangupShutsDown_data()
{
    QTest::addColumn<int>("ending");
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGQUIT") << int(SIGQUIT);
}

// Stray signals leave Zentrel serving; the terminal closing ends it through
// its shutdown, which saves the position.
void tst_ShutdownProcess::signals_strayIgnoredHangupShutsDown()
{
    QFETCH(int, ending);
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start("Router>\r\n", "0");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    for (const int stray : {SIGPIPE, SIGUSR1, SIGUSR2})
        QCOMPARE(::kill(zentrel.pid(), stray), 0);
    QByteArray received;
    QVERIFY(tests::fetch(zentrel.port(), received, 10000));
    QCOMPARE(received, QByteArray("Router>"));
    QVERIFY(zentrel.running());

    QCOMPARE(::kill(zentrel.pid(), ending), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!zentrel.running(), 30000);
    QVERIFY2(zentrel.terminate(0), zentrel.output().constData());   // ended with status 0
    const QByteArray ini = zentrel.read("zentrel.ini");
    QVERIFY2(ini.contains("PositionX=") && ini.contains("PositionY="), ini.constData());
}

// The operator clicks Exit while Show Responses is pacing itself: the click
// that started the preview returns, the program is stopping, nothing follows.
void tst_ShutdownProcess::exitClick_duringPreview_unwinds()
{
    ScratchDir dir;
    writeFiles(dir, freePort(), 0.2);
    tests::LiveZentrel live;
    QVERIFY(live.start());
    auto &[qt, form, view, application] = live;
    QVERIFY(QTest::qWaitForWindowExposed(view.widget()));
    QAbstractButton *answers = button(view, "CMD_Answers");
    QAbstractButton *quitter = button(view, "CMD_Quitter");
    QVERIFY(answers && quitter);
    QVERIFY(answers->isEnabled());
    form.Picture1.onClick();   // the buttons lie in the lower panel
    QCOMPARE(form.height(), ui::ExpandedHeight);

    // Clicks Exit from inside the preview's pauses once two items are shown.
    std::string textAtExit;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (textAtExit.empty() && QByteArray::fromStdString(form.TXT_OutPut.text()).count('<') >= 2) {
            textAtExit = form.TXT_OutPut.text();
            QTest::mouseClick(quitter, Qt::LeftButton);
        }
    });
    watch.start();

    QTest::mouseClick(answers, Qt::LeftButton);   // returns at once: the preview runs from the loop
    QTRY_VERIFY_WITH_TIMEOUT(form.unloaded(), 20000);
    watch.stop();

    QVERIFY(!textAtExit.empty());
    QCOMPARE(application.shared().stopRequested, std::int16_t(1));
    QCOMPARE(tests::descriptorsOn(dir.file("RESPONSE.TXT")), 0);
    QCoreApplication::processEvents();
    QCOMPARE(form.TXT_OutPut.text(), textAtExit);
}

// The same during a playback to a real client: the connection handler that
// ran the playback returns and no item follows the click.
void tst_ShutdownProcess::exitClick_duringPlayback_unwinds()
{
    ScratchDir dir;
    const quint16 port = freePort();
    QVERIFY(port);
    writeFiles(dir, port, 0.2);
    tests::LiveZentrel live;
    QVERIFY(live.start());
    auto &[qt, form, view, application] = live;
    QVERIFY(QTest::qWaitForWindowExposed(view.widget()));
    QAbstractButton *quitter = button(view, "CMD_Quitter");
    QVERIFY(quitter);

    // The playback runs inside the connection handler, so the client's data
    // and the click arrive in its pauses.
    Client client;
    int itemsAtExit = 0;
    client.onItems = [&] {
        if (!itemsAtExit && client.items() >= 2) {
            itemsAtExit = client.items();
            QTest::mouseClick(quitter, Qt::LeftButton);
        }
    };
    client.socket.connectToHost(QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(itemsAtExit > 0, 30000);

    QVERIFY(form.unloaded());
    QCOMPARE(application.shared().stopRequested, std::int16_t(1));
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, 30000);
    QCOMPARE(client.items(), itemsAtExit);
    QCOMPARE(client.received, itemsUpTo(itemsAtExit));
    QCOMPARE(tests::descriptorsOn(dir.file("RESPONSE.TXT")), 0);
}

QTEST_MAIN(tst_ShutdownProcess)
#include "tst_shutdown_process.moc"
