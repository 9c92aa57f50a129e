// tst_console.cpp: serving a client against the fake socket array and clock, with real script files.
#include "console/listener.h"
#include "console/telnet.h"
#include "platform/error.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "ui/presenter.h"
#include "ui/window_model.h"

#include <QTest>

#include <algorithm>
#include <limits>

using namespace zentrel;
using platform::SocketArray;

namespace {

// Notes when each item went out and when Zentrel closed a connection.
class TimedSockets : public tests::FakeSocketArray
{
public:
    explicit TimedSockets(const platform::EventLoop &loop) : m_loop(loop) {}
    void sendData(int index, std::string_view bytes) override
    {
        FakeSocketArray::sendData(index, bytes);
        sendTimes.push_back(m_loop.now());
    }
    void close(int index) override
    {
        FakeSocketArray::close(index);
        closeTimes.push_back(m_loop.now());
    }
    std::vector<double> sendTimes, closeTimes;

private:
    const platform::EventLoop &m_loop;
};

class RefreshCounter : public platform::ElementObserver
{
public:
    void elementChanged(platform::Element &) override {}
    void elementRefresh(platform::Element &) override { ++refreshes; }
    int refreshes = 0;
};

constexpr double Start = 1000.0;   // the fake clock's reading when a test begins

// Zentrel after a start-up that found both files: listening on element 0,
// the buttons enabled, a pause of one second.
struct Rig {
    tests::ScratchDir dir;
    ui::ZentrelFRM form;
    tests::FakeEventLoop loop;
    TimedSockets sockets{loop};
    tests::FakeEmptyProfile profile;
    tests::CountingTextFiles files;
    tests::FakeDialogs dialogs;
    tests::FakeInstanceGuard guard;
    platform::Platform platform{sockets, profile, files, loop, dialogs, guard};
    console::Shared shared;
    ui::Presenter presenter{form, shared};
    console::Listener listener{platform, shared, presenter};

    Rig()
    {
        listener.wire();
        sockets.create(0);
        sockets.listen(0);
        form.TXT_OutPut.setText({});
        form.CMD_Answers.setEnabled(true);
        form.CMD_OriginalConfig.setEnabled(true);
        shared.responseDelay = 1.0;
    }
    void script(const QByteArray &bytes) { dir.write("RESPONSE.TXT", bytes); }
    QByteArray sent(int index) { return QByteArray::fromStdString(sockets.element(index).sent); }
    QByteArray output() const { return QByteArray::fromStdString(form.TXT_OutPut.text()); }
    QByteArray input() const { return QByteArray::fromStdString(form.TXT_Input.text()); }
    // A client connects, and the event loop runs until nothing is left to do.
    std::int32_t connect()
    {
        const std::int32_t request = sockets.clientConnects();
        loop.run();
        return request;
    }
    // Back in the event loop: waiting clients are served.
    void returnToEventLoop() { loop.run(); }
};

// The window as the end of a script leaves it.
void verifyIdle(Rig &rig)
{
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(rig.form.CMD_Answers.enabled());
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(!rig.form.frm_green.visible());
    QVERIFY(!rig.form.FRM_Red.visible());
    QVERIFY(!rig.form.FRM_Yellow.visible());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.listener.busy());
}

} // namespace

class tst_Console : public QObject
{
    Q_OBJECT
private slots:
    // Lifecycle.
    void connections_getElementsOneTwoThree();
    void connectionIndex_data();
    void connectionIndex();
    void connection_emptiesInputKeepsOutput();
    void script_playedItemByItem();
    void peerClosing_endsAtNextItem();
    void peerGone_withoutCloseEvent_endsCleanly();
    void closeEvent_ofEndedConnection_ignored();
    void connectionRequest_fromOtherElement_ignored();
    void emptyOrMissingScript_data();
    void emptyOrMissingScript();
    void script_readAfreshForEachConnection();
    void secondClient_waitsThenServed();
    void clientsWaiting_servedInArrivalOrder();
    void clientsLeftWhileWaiting_droppedUnserved();
    void clientWaitingForPreview_servedWhenItEnds();
    void typedCommands_enableReceivedCommands();
    void endOfConnection_restoresProbeVerdict();

    // Failures.
    void failure_data();
    void failure();

    // Input capture.
    void capture_data();
    void capture();
    void capture_expandsOnlyFromCompact_data();
    void capture_expandsOnlyFromCompact();
    void capture_readsConnectionSocketWhicheverElementRaised();

    // Pacing.
    void pacing_itemsAtMultiplesOfDelay();
    void pacing_delayReadAfreshBeforeEachItem();
    void pacing_zeroDelayNeverYields();
    void stop_duringPause_touchesNothingElse();
};

void tst_Console::connections_getElementsOneTwoThree()
{
    Rig rig;
    rig.script("hello\r\n");
    for (int n = 1; n <= 3; ++n) {
        const std::int32_t request = rig.connect();
        QCOMPARE(rig.shared.connectionIndex, n);
        QCOMPARE(rig.sockets.element(n).requestId, request);
        QCOMPARE(rig.sockets.element(n).localPort, 0);
        QCOMPARE(rig.sent(n), QByteArray("hello"));
        QCOMPARE(rig.sockets.element(n).closes, 1);
    }
    QCOMPARE(rig.sockets.element(0).state, int(SocketArray::Listening));
    QCOMPARE(rig.sent(1), QByteArray("hello"));   // an ended connection is left alone
    QVERIFY(!rig.sockets.has(4));
}

void tst_Console::connectionIndex_data()
{
    QTest::addColumn<std::int32_t>("before");
    QTest::addColumn<int>("element");
    QTest::newRow("past 32767") << std::int32_t(32767) << 32768;
    QTest::newRow("past 65535") << std::int32_t(65535) << 65536;
    QTest::newRow("after the last 32-bit index")
        << std::numeric_limits<std::int32_t>::max() << 1;
}

void tst_Console::connectionIndex()
{
    QFETCH(std::int32_t, before);
    QFETCH(int, element);
    Rig rig;
    rig.script("x\r\n");
    rig.shared.connectionIndex = before;
    rig.connect();
    QCOMPARE(rig.shared.connectionIndex, element);
    QCOMPARE(rig.sent(element), QByteArray("x"));
    verifyIdle(rig);
}

void tst_Console::connection_emptiesInputKeepsOutput()
{
    Rig rig;
    rig.script("one\r\n");
    rig.form.TXT_OutPut.setText("earlier\r\n");
    rig.form.TXT_Input.setText("show run\r\n");
    rig.form.CMD_ReceivedCommands.setEnabled(true);

    bool looked = false;
    rig.loop.at(Start + 0.5, [&] {
        looked = true;
        QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Yellow);
        QVERIFY(rig.form.TXT_Input.visible());
        QVERIFY(!rig.form.TXT_OutPut.visible());
        QVERIFY(rig.form.TXT_Input.text().empty());
        QCOMPARE(rig.output(), QByteArray("earlier\r\n"));
        QVERIFY(!rig.form.CMD_Answers.enabled());
        QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
        QVERIFY(!rig.form.CMD_ReceivedCommands.enabled());
        QCOMPARE(rig.files.opened(), 1);   // read whole at the accept
        QCOMPARE(rig.files.alive(), 0);
        QVERIFY(rig.listener.busy());
    });
    rig.connect();
    QVERIFY(looked);
    QCOMPARE(rig.output(), QByteArray("earlier\r\none\r\n"));
    verifyIdle(rig);
    QVERIFY(!rig.form.CMD_ReceivedCommands.enabled());   // the client typed nothing
    QVERIFY(rig.form.TXT_Input.visible());
    QVERIFY(!rig.form.TXT_OutPut.visible());
}

void tst_Console::script_playedItemByItem()
{
    Rig rig;
    rig.script("User:,  Password:\r\n\"a,b\"\r\n\r\nRouter> ");
    std::vector<bool> lamps;
    for (int k = 1; k <= 4; ++k)
        rig.loop.at(Start + k + 0.5, [&] { lamps.push_back(rig.form.frm_green.visible()); });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("User:Password:a,bRouter> "));
    QCOMPARE(rig.sockets.sendTimes.size(), std::size_t(4));   // the empty item sends nothing
    QCOMPARE(rig.output(), QByteArray("User:\r\nPassword:\r\na,b\r\n\r\nRouter> \r\n"));
    // The three lamps change together, once per item; hidden at the end.
    QCOMPARE(lamps, (std::vector<bool>{true, false, true, false}));
    QCOMPARE(rig.form.FRM_Red.visible(), rig.form.frm_green.visible());
    verifyIdle(rig);
    QCOMPARE(rig.sockets.element(1).closes, 1);
}

void tst_Console::peerClosing_endsAtNextItem()
{
    Rig rig;
    rig.script("a\r\nb\r\nc\r\n");
    rig.form.TXT_OutPut.setText("before\r\n");
    rig.loop.at(Start + 1.5, [&] {
        rig.sockets.clientCloses(1);
        // At once: the lamp and Received Commands; the other two wait for the playback.
        QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Green);
        QVERIFY(rig.form.CMD_ReceivedCommands.enabled());
        QVERIFY(!rig.form.CMD_Answers.enabled());
        QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("a"));
    QCOMPARE(rig.output(), QByteArray("before\r\na\r\n"));   // item 2 neither sent nor shown
    QVERIFY(rig.form.TXT_OutPut.visible());
    QVERIFY(!rig.form.TXT_Input.visible());
    QVERIFY(rig.form.CMD_Answers.enabled());
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.form.CMD_ReceivedCommands.enabled());
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(rig.form.frm_green.visible());   // left as the last item set them
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.listener.busy());
    QCOMPARE(rig.loop.now(), Start + 2);   // noticed at the next item, not later
}

void tst_Console::peerGone_withoutCloseEvent_endsCleanly()
{
    Rig rig;
    rig.script("a\r\nb\r\n");
    // The socket reports the client gone before its close event is dispatched.
    rig.loop.at(Start + 1.5, [&] { rig.sockets.element(1).state = SocketArray::Closed; });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("a"));
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(rig.form.CMD_Answers.enabled());
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.form.CMD_ReceivedCommands.enabled());
    // The late close event then changes nothing.
    rig.sockets.clientCloses(1);
    QVERIFY(rig.form.CMD_Answers.enabled());
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QCOMPARE(rig.files.alive(), 0);
}

void tst_Console::closeEvent_ofEndedConnection_ignored()
{
    Rig rig;
    rig.script("a\r\n");
    rig.connect();
    rig.sockets.clientCloses(1);   // a platform that still reports a close we made
    verifyIdle(rig);
    QVERIFY(!rig.form.CMD_ReceivedCommands.enabled());

    // A stale close from element 1 must not cut off the client of element 2.
    rig.script("a\r\nb\r\n");
    rig.loop.at(rig.loop.now() + 1.5, [&] { rig.sockets.clientCloses(1); });
    rig.connect();
    QCOMPARE(rig.sent(2), QByteArray("ab"));
    QCOMPARE(rig.sockets.element(2).closes, 1);
    verifyIdle(rig);
}

void tst_Console::connectionRequest_fromOtherElement_ignored()
{
    Rig rig;
    rig.script("a\r\n");
    rig.connect();
    rig.sockets.clientSends(1, "show run\r\n");
    // No element but the listening one has a connection to hand over; the
    // commands of the last client stay for the operator.
    rig.listener.onConnectionRequest(1, 77);
    QCOMPARE(rig.input(), QByteArray("show run\r\n"));
    QCOMPARE(rig.shared.connectionIndex, 1);
    QCOMPARE(rig.sockets.calls().back(), std::string("close 1"));
}

void tst_Console::emptyOrMissingScript_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty file") << "empty";
    QTest::newRow("missing") << "missing";
    QTest::newRow("a directory") << "directory";
}

void tst_Console::emptyOrMissingScript()
{
    QFETCH(QString, kind);
    Rig rig;
    if (kind == "empty")
        rig.script({});
    else if (kind == "directory")
        QVERIFY(QDir(rig.dir.path()).mkdir("RESPONSE.TXT"));
    rig.form.TXT_OutPut.setText("kept\r\n");
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray());
    QCOMPARE(rig.sockets.element(1).closes, 1);
    QCOMPARE(rig.loop.yields(), 0);   // closed right after the accept
    QCOMPARE(rig.output(), QByteArray("kept\r\n"));
    verifyIdle(rig);
    QVERIFY(!rig.form.CMD_ReceivedCommands.enabled());

    // The next client, with a script in place, is served normally.
    QDir(rig.dir.path()).rmdir("RESPONSE.TXT");
    rig.script("back\r\n");
    rig.connect();
    QCOMPARE(rig.sent(2), QByteArray("back"));
}

void tst_Console::script_readAfreshForEachConnection()
{
    Rig rig;
    rig.script("first\r\n");
    rig.connect();
    rig.script("second,third\r\n");
    rig.connect();
    QCOMPARE(rig.sent(1), QByteArray("first"));
    QCOMPARE(rig.sent(2), QByteArray("secondthird"));
}

void tst_Console::secondClient_waitsThenServed()
{
    Rig rig;
    rig.script("a\r\nb\r\n");
    rig.loop.at(Start + 1.5, [&] {
        rig.sockets.clientConnects();
        QVERIFY(!rig.sockets.has(2));   // not accepted while the first is served
        QCOMPARE(rig.shared.connectionIndex, 1);
    });
    rig.connect();

    // The first client got its whole script, undisturbed; the second was
    // accepted only after the first was closed, and then served in full.
    QCOMPARE(rig.sent(1), QByteArray("ab"));
    QCOMPARE(rig.sockets.element(1).closes, 1);
    QCOMPARE(rig.sockets.sendTimes, (std::vector<double>{Start + 1, Start + 2, Start + 3, Start + 4}));
    const auto &calls = rig.sockets.calls();
    QVERIFY(std::find(calls.begin(), calls.end(), "close 1") < std::find(calls.begin(), calls.end(), "create 2"));
    QCOMPARE(rig.sockets.element(2).requestId, 2);
    QCOMPARE(rig.sent(2), QByteArray("ab"));
    QCOMPARE(rig.sockets.element(2).closes, 1);
    verifyIdle(rig);
}

void tst_Console::clientsWaiting_servedInArrivalOrder()
{
    Rig rig;
    rig.script("x\r\n");
    rig.loop.at(Start + 0.2, [&] { rig.sockets.clientConnects(); });
    rig.loop.at(Start + 0.4, [&] { rig.sockets.clientConnects(); });
    rig.loop.at(Start + 0.6, [&] { rig.sockets.clientConnects(); });
    rig.connect();
    // Each waiting client is served from the event loop in turn, never nested.
    rig.returnToEventLoop();
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(rig.sockets.element(n).requestId, n);
        QCOMPARE(rig.sent(n), QByteArray("x"));
    }
    verifyIdle(rig);
}

void tst_Console::clientsLeftWhileWaiting_droppedUnserved()
{
    Rig rig;
    rig.script("x\r\n");
    std::int32_t stays = 0;
    rig.loop.at(Start + 0.2, [&] {
        for (int i = 0; i < 5; ++i)
            rig.sockets.waitingClientLeaves(rig.sockets.clientConnects());
        stays = rig.sockets.clientConnects();
    });
    rig.connect();
    rig.returnToEventLoop();
    // Element 2 goes to the client that stayed, its item one pause after the
    // first connection ended, and the five who left never reached the window.
    QCOMPARE(rig.sockets.element(2).requestId, stays);
    QCOMPARE(rig.sent(2), QByteArray("x"));
    QVERIFY(!rig.sockets.has(3));
    QCOMPARE(rig.shared.connectionIndex, 2);
    QCOMPARE(rig.loop.now(), Start + 2.0);
    verifyIdle(rig);
}

void tst_Console::clientWaitingForPreview_servedWhenItEnds()
{
    Rig rig;
    rig.script("x\r\n");
    rig.listener.router().setHeld(true);   // a preview runs
    rig.connect();
    QVERIFY(!rig.sockets.has(1));

    rig.listener.router().setHeld(false);   // the preview ends
    QVERIFY(!rig.sockets.has(1));   // served from the event loop, not inside the preview
    rig.returnToEventLoop();
    QCOMPARE(rig.sent(1), QByteArray("x"));

    // A client still waiting when the window unloads is not served.
    rig.listener.router().setHeld(true);
    rig.connect();
    rig.listener.stop();
    rig.listener.router().setHeld(false);
    rig.returnToEventLoop();
    QVERIFY(!rig.sockets.has(2));
}

void tst_Console::typedCommands_enableReceivedCommands()
{
    Rig rig;
    rig.script("User:\r\nPassword:\r\n");
    rig.loop.at(Start + 1.5, [&] { rig.sockets.clientSends(1, "admin\r\n"); });
    rig.connect();
    QCOMPARE(rig.input(), QByteArray("admin\r\n"));
    QVERIFY(rig.form.CMD_ReceivedCommands.enabled());
    QVERIFY(rig.form.TXT_Input.visible());
    QCOMPARE(rig.form.height(), ui::ExpandedHeight);
    verifyIdle(rig);
}

// Start-up found no ROUTER.CFG or no RESPONSE.TXT: the end of a connection
// leaves that button off instead of simply enabling it.
void tst_Console::endOfConnection_restoresProbeVerdict()
{
    for (const bool gone : {false, true}) {
        Rig rig;
        rig.script("a\r\nb\r\n");
        rig.shared.configAvailable = false;
        rig.shared.responsesAvailable = true;
        if (gone)
            rig.loop.at(Start + 1.5, [&] { rig.sockets.clientCloses(1); });
        rig.connect();
        QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
        QVERIFY(rig.form.CMD_Answers.enabled());
    }
}

void tst_Console::failure_data()
{
    QTest::addColumn<QString>("failing");
    QTest::newRow("accept") << "accept";
    QTest::newRow("send") << "send";
}

void tst_Console::failure()
{
    QFETCH(QString, failing);
    Rig rig;
    rig.script("a\r\nb\r\n");
    if (failing == "accept")
        rig.sockets.acceptFailsWith = platform::SocketError;
    else
        rig.sockets.sendFailsWith = platform::SocketError;
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray());
    QCOMPARE(rig.sockets.state(1), int(SocketArray::Closed));
    verifyIdle(rig);

    rig.sockets.acceptFailsWith = 0;
    rig.sockets.sendFailsWith = 0;
    rig.connect();
    QCOMPARE(rig.sent(2), QByteArray("ab"));
    verifyIdle(rig);
}

void tst_Console::capture_data()
{
    using Chunks = QList<QByteArray>;
    const QByteArray greeting(console::TelnetGreeting.data(), 24);
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QByteArray>("recorded");
    QTest::addColumn<int>("refreshes");

    QTest::newRow("keystrokes then CR LF")
        << Chunks{"s", "h", "o", "w", "\r\n"} << QByteArray("show\r\n") << 5;
    QTest::newRow("command and CR LF") << Chunks{"show run\r\n"} << QByteArray("show run\r\n") << 1;
    QTest::newRow("command and CR") << Chunks{"enable\r"} << QByteArray("enable\r\n") << 1;
    QTest::newRow("several lines keep the first")
        << Chunks{"a\r\nb\r\n"} << QByteArray("a\r\n") << 1;
    QTest::newRow("bytes without CR") << Chunks{"abc"} << QByteArray("abc\r\n") << 1;
    QTest::newRow("lone CR") << Chunks{"\r"} << QByteArray("\r") << 1;
    QTest::newRow("lone LF") << Chunks{"\n"} << QByteArray("\n") << 1;
    QTest::newRow("starts with CR") << Chunks{"\rabc"} << QByteArray("\r\n") << 1;
    QTest::newRow("greeting ignored") << Chunks{greeting} << QByteArray() << 0;
    QTest::newRow("greeting then a command")
        << Chunks{greeting, "admin\r\n"} << QByteArray("admin\r\n") << 1;
    QTest::newRow("greeting split")
        << Chunks{greeting.left(10), greeting.mid(10)}
        << greeting.left(10) + "\r\n" + greeting.mid(10) + "\r\n" << 2;
    QTest::newRow("greeting joined") << Chunks{greeting + "x\r\n"} << greeting + "x\r\n" << 1;
    QTest::newRow("greeting less one byte")
        << Chunks{greeting.chopped(1)} << greeting.chopped(1) + "\r\n" << 1;
    QTest::newRow("high bytes") << Chunks{"\x80\xe9\xff"} << QByteArray("\x80\xe9\xff\r\n") << 1;
    QTest::newRow("NUL bytes") << Chunks{QByteArray("a\0b", 3), QByteArray(1, '\0')}
                               << QByteArray("a\0b\r\n\0", 6) << 2;
    QTest::newRow("empty chunk") << Chunks{QByteArray()} << QByteArray() << 0;
}

void tst_Console::capture()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, recorded);
    QFETCH(int, refreshes);
    Rig rig;
    RefreshCounter observer;
    rig.form.TXT_Input.setObserver(&observer);
    rig.shared.connectionIndex = 1;
    rig.sockets.create(1);
    for (const QByteArray &chunk : chunks)
        rig.sockets.clientSends(1, chunk.toStdString());
    QCOMPARE(rig.input(), recorded);
    QCOMPARE(observer.refreshes, refreshes);
    rig.form.TXT_Input.setObserver(nullptr);
}

void tst_Console::capture_expandsOnlyFromCompact_data()
{
    const QByteArray greeting(console::TelnetGreeting.data(), 24);
    QTest::addColumn<float>("before");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<float>("after");
    QTest::newRow("compact expands") << ui::CompactHeight << QByteArray("x") << ui::ExpandedHeight;
    QTest::newRow("greeting expands too") << ui::CompactHeight << greeting << ui::ExpandedHeight;
    QTest::newRow("expanded stays") << ui::ExpandedHeight << QByteArray("x") << ui::ExpandedHeight;
    QTest::newRow("other height kept") << 2000.0f << QByteArray("x") << 2000.0f;
    QTest::newRow("nearly compact kept") << 1635.5f << QByteArray("x") << 1635.5f;
    QTest::newRow("no bytes, no change") << ui::CompactHeight << QByteArray() << ui::CompactHeight;
}

void tst_Console::capture_expandsOnlyFromCompact()
{
    QFETCH(float, before);
    QFETCH(QByteArray, chunk);
    QFETCH(float, after);
    Rig rig;
    rig.form.setHeight(before);
    rig.shared.connectionIndex = 1;
    rig.sockets.create(1);
    rig.sockets.clientSends(1, chunk.toStdString());
    QCOMPARE(rig.form.height(), after);
}

void tst_Console::capture_readsConnectionSocketWhicheverElementRaised()
{
    Rig rig;
    rig.shared.connectionIndex = 2;
    rig.sockets.create(1);
    rig.sockets.create(2);
    rig.sockets.element(2).incoming = "conf t\r\n";
    rig.listener.onDataArrival(1, 8);
    QCOMPARE(rig.input(), QByteArray("conf t\r\n"));
}

void tst_Console::pacing_itemsAtMultiplesOfDelay()
{
    Rig rig;
    rig.shared.responseDelay = 0.25;
    rig.script("a,b\r\nc\r\n");
    rig.connect();
    QCOMPARE(rig.sockets.sendTimes, (std::vector<double>{Start + 0.25, Start + 0.5, Start + 0.75}));
    // No pause after the last item: closed as soon as it is handed over.
    QCOMPARE(rig.sockets.closeTimes, (std::vector<double>{Start + 0.75}));
}

void tst_Console::pacing_delayReadAfreshBeforeEachItem()
{
    Rig rig;
    rig.script("a\r\nb\r\nc\r\n");
    rig.loop.at(Start + 1.5, [&] { rig.shared.responseDelay = 3.0; });
    rig.connect();
    // Item b's pause began with 1 s; item c's with the new 3 s.
    QCOMPARE(rig.sockets.sendTimes, (std::vector<double>{Start + 1, Start + 2, Start + 5}));
}

void tst_Console::pacing_zeroDelayNeverYields()
{
    Rig rig;
    rig.shared.responseDelay = 0;
    rig.script("a,b,c\r\nd\r\n");
    rig.connect();
    QCOMPARE(rig.sent(1), QByteArray("abcd"));
    QCOMPARE(rig.loop.yields(), 0);
    QCOMPARE(rig.loop.now(), Start);
    verifyIdle(rig);
}

void tst_Console::stop_duringPause_touchesNothingElse()
{
    Rig rig;
    rig.script("a\r\nb\r\n");
    rig.loop.at(Start + 1.2, [&] { rig.sockets.clientConnects(); });   // will wait
    rig.loop.at(Start + 1.5, [&] { rig.listener.stop(); });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("a"));
    QCOMPARE(rig.loop.now(), Start + 1.5);   // left right after the yield that saw the stop
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.listener.busy());
    QCOMPARE(rig.sockets.element(1).closes, 0);   // the unloading window closes the sockets
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Yellow);
    QVERIFY(rig.form.frm_green.visible());
    QVERIFY(!rig.form.CMD_Answers.enabled());
    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QCOMPARE(rig.output(), QByteArray("a\r\n"));

    rig.returnToEventLoop();
    rig.connect();
    QVERIFY(!rig.sockets.has(2));   // nothing more is served
}

QTEST_GUILESS_MAIN(tst_Console)
#include "tst_console.moc"
