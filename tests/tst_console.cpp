// tst_console.cpp: serving the window's clients against a fake network and clock, with real script files.
#include "app/application.h"
#include "console/telnet.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

#include <QTest>

#include <limits>

using namespace zentrel;

namespace {

class RefreshCounter : public ui::ElementObserver
{
public:
    void elementChanged(ui::Element &) override {}
    void elementRefresh(ui::Element &) override { ++refreshes; }
    int refreshes = 0;
};

constexpr double Start = 1000.0;   // the fake clock's reading when a test begins

// Zentrel after a start-up that found both files: listening, the buttons
// enabled, a pause of one second.
struct Rig {
    tests::ScratchDir dir;
    ui::ZentrelFRM form;
    tests::FakeEventLoop loop;
    tests::FakeNetwork network{loop};
    tests::FakeEmptyProfile profile;
    tests::CountingTextFiles files;
    tests::FakeDialogs dialogs;
    tests::FakeInstanceGuard guard;
    platform::Platform platform{network, profile, files, loop, dialogs, guard};
    app::Application application{form, platform};
    ui::Shared &shared = application.shared();

    Rig()
    {
        network.listen(1101);
        form.TXT_OutPut.setText({});
        form.CMD_Answers.setEnabled(true);
        form.CMD_OriginalConfig.setEnabled(true);
        shared.responseDelay = 1.0;
    }
    void script(const QByteArray &bytes) { dir.write("RESPONSE.TXT", bytes); }
    QByteArray sent(int client) { return QByteArray::fromStdString(network.client(client).sent); }
    std::size_t closes(int client) { return network.client(client).closeTimes.size(); }
    QByteArray output() const { return QByteArray::fromStdString(form.TXT_OutPut.text()); }
    QByteArray input() const { return QByteArray::fromStdString(form.TXT_Input.text()); }
    // A client connects, and the event loop runs until nothing is left to do.
    int connect()
    {
        const int client = network.clientConnects();
        loop.run();
        return client;
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
    QVERIFY(!rig.shared.busy());
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
    void emptyOrMissingScript_data();
    void emptyOrMissingScript();
    void script_readAfreshForEachConnection();
    void secondClient_waitsThenServed();
    void clientsWaiting_servedInArrivalOrder();
    void clientsLeftWhileWaiting_droppedUnserved();
    void clientWaitingForPreview_servedWhenItEnds();
    void typedCommands_enableReceivedCommands();
    void endOfConnection_restoresProbeVerdict();

    // Input capture.
    void capture_data();
    void capture();
    void capture_expandsOnlyFromCompact_data();
    void capture_expandsOnlyFromCompact();

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
        QCOMPARE(rig.connect(), n);
        QCOMPARE(rig.shared.connectionIndex, n);
        QCOMPARE(rig.sent(n), QByteArray("hello"));
        QCOMPARE(rig.closes(n), std::size_t(1));
    }
    QVERIFY(rig.network.listening());
    QCOMPARE(rig.sent(1), QByteArray("hello"));   // an ended connection is left alone
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
    QCOMPARE(rig.sent(1), QByteArray("x"));
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
        QVERIFY(rig.shared.busy());
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
    QCOMPARE(rig.network.client(1).sendTimes.size(), std::size_t(4));   // the empty item sends nothing
    QCOMPARE(rig.output(), QByteArray("User:\r\nPassword:\r\na,b\r\n\r\nRouter> \r\n"));
    // The three lamps change together, once per item; hidden at the end.
    QCOMPARE(lamps, (std::vector<bool>{true, false, true, false}));
    QCOMPARE(rig.form.FRM_Red.visible(), rig.form.frm_green.visible());
    verifyIdle(rig);
    QCOMPARE(rig.closes(1), std::size_t(1));
}

void tst_Console::peerClosing_endsAtNextItem()
{
    Rig rig;
    rig.script("a\r\nb\r\nc\r\n");
    rig.form.TXT_OutPut.setText("before\r\n");
    rig.loop.at(Start + 1.5, [&] {
        rig.network.clientCloses(1);
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
    QVERIFY(!rig.shared.busy());
    QCOMPARE(rig.loop.now(), Start + 2);   // noticed at the next item, not later
}

void tst_Console::peerGone_withoutCloseEvent_endsCleanly()
{
    Rig rig;
    rig.script("a\r\nb\r\n");
    // The connection finds the client gone before it has told the session.
    rig.loop.at(Start + 1.5, [&] { rig.network.clientVanishes(1); });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("a"));
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(rig.form.CMD_Answers.enabled());
    QVERIFY(rig.form.CMD_OriginalConfig.enabled());
    QVERIFY(rig.form.CMD_ReceivedCommands.enabled());
    QVERIFY(rig.form.TXT_OutPut.visible());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.shared.busy());
}

void tst_Console::closeEvent_ofEndedConnection_ignored()
{
    Rig rig;
    rig.script("a\r\nb\r\n");
    rig.connect();
    // A client of an ended connection hanging up must not cut off the next one.
    rig.loop.at(rig.loop.now() + 1.5, [&] { rig.network.clientCloses(1); });
    rig.connect();
    QCOMPARE(rig.sent(2), QByteArray("ab"));
    QCOMPARE(rig.closes(2), std::size_t(1));
    verifyIdle(rig);
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
    QCOMPARE(rig.closes(1), std::size_t(1));
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
        rig.network.clientConnects();
        QCOMPARE(rig.shared.connectionIndex, 1);   // not served while the first is
    });
    rig.connect();

    // The first client got its whole script, undisturbed; the second was
    // served only once the first was closed, and then in full.
    QCOMPARE(rig.sent(1), QByteArray("ab"));
    QCOMPARE(rig.network.client(1).sendTimes, (std::vector<double>{Start + 1, Start + 2}));
    QCOMPARE(rig.network.client(1).closeTimes, (std::vector<double>{Start + 2}));
    QCOMPARE(rig.shared.connectionIndex, 2);
    QCOMPARE(rig.sent(2), QByteArray("ab"));
    QCOMPARE(rig.network.client(2).sendTimes, (std::vector<double>{Start + 3, Start + 4}));
    QCOMPARE(rig.closes(2), std::size_t(1));
    verifyIdle(rig);
}

void tst_Console::clientsWaiting_servedInArrivalOrder()
{
    Rig rig;
    rig.script("x\r\n");
    rig.loop.at(Start + 0.2, [&] { rig.network.clientConnects(); });
    rig.loop.at(Start + 0.4, [&] { rig.network.clientConnects(); });
    rig.loop.at(Start + 0.6, [&] { rig.network.clientConnects(); });
    rig.connect();
    rig.returnToEventLoop();
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(rig.sent(n), QByteArray("x"));
        QCOMPARE(rig.network.client(n).sendTimes, std::vector<double>{Start + n});
    }
    QCOMPARE(rig.shared.connectionIndex, 4);
    verifyIdle(rig);
}

void tst_Console::clientsLeftWhileWaiting_droppedUnserved()
{
    Rig rig;
    rig.script("x\r\n");
    int stays = 0;
    rig.loop.at(Start + 0.2, [&] {
        for (int i = 0; i < 5; ++i)
            rig.network.clientCloses(rig.network.clientConnects());
        stays = rig.network.clientConnects();
    });
    rig.connect();
    rig.returnToEventLoop();
    // Element 2 goes to the client that stayed, its item one pause after the
    // first connection ended, and the five who left never reached the window.
    QCOMPARE(rig.sent(stays), QByteArray("x"));
    for (int left = 2; left < stays; ++left) {
        QCOMPARE(rig.sent(left), QByteArray());
        QCOMPARE(rig.closes(left), std::size_t(1));   // their sockets freed at once
    }
    QCOMPARE(rig.shared.connectionIndex, 2);
    QCOMPARE(rig.loop.now(), Start + 2.0);
    verifyIdle(rig);
}

void tst_Console::clientWaitingForPreview_servedWhenItEnds()
{
    Rig rig;
    rig.script("x\r\n");
    console::Router &router = rig.application.router();
    router.setHeld(true);   // a preview runs
    rig.connect();
    QCOMPARE(rig.shared.connectionIndex, 0);

    router.setHeld(false);   // the preview ends
    rig.returnToEventLoop();
    QCOMPARE(rig.shared.connectionIndex, 1);
    QCOMPARE(rig.sent(1), QByteArray("x"));

    // A client still waiting when the window unloads is not served.
    router.setHeld(true);
    rig.connect();
    rig.form.close();
    router.setHeld(false);
    rig.returnToEventLoop();
    QCOMPARE(rig.shared.connectionIndex, 1);
    QCOMPARE(rig.sent(2), QByteArray());
    QCOMPARE(rig.closes(2), std::size_t(1));
}

void tst_Console::typedCommands_enableReceivedCommands()
{
    Rig rig;
    rig.script("User:\r\nPassword:\r\n");
    rig.loop.at(Start + 1.5, [&] { rig.network.clientSends(1, "admin\r\n"); });
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
            rig.loop.at(Start + 1.5, [&] { rig.network.clientCloses(1); });
        rig.connect();
        QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
        QVERIFY(rig.form.CMD_Answers.enabled());
    }
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
    rig.script("x\r\n");
    rig.network.clientConnects();   // served at once; its item comes a pause later
    RefreshCounter observer;
    rig.form.TXT_Input.setObserver(&observer);
    for (const QByteArray &chunk : chunks)
        rig.network.clientSends(1, chunk.toStdString());
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
    rig.script("x\r\n");
    rig.network.clientConnects();
    rig.form.setHeight(before);
    rig.network.clientSends(1, chunk.toStdString());
    QCOMPARE(rig.form.height(), after);
}

void tst_Console::pacing_itemsAtMultiplesOfDelay()
{
    Rig rig;
    rig.shared.responseDelay = 0.25;
    rig.script("a,b\r\nc\r\n");
    rig.connect();
    QCOMPARE(rig.network.client(1).sendTimes, (std::vector<double>{Start + 0.25, Start + 0.5, Start + 0.75}));
    // No pause after the last item: closed as soon as it is handed over.
    QCOMPARE(rig.network.client(1).closeTimes, (std::vector<double>{Start + 0.75}));
}

void tst_Console::pacing_delayReadAfreshBeforeEachItem()
{
    Rig rig;
    rig.script("a\r\nb\r\nc\r\n");
    rig.loop.at(Start + 1.5, [&] { rig.shared.responseDelay = 3.0; });
    rig.connect();
    // Item b's pause began with 1 s; item c's with the new 3 s.
    QCOMPARE(rig.network.client(1).sendTimes, (std::vector<double>{Start + 1, Start + 2, Start + 5}));
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
    rig.loop.at(Start + 1.2, [&] { rig.network.clientConnects(); });   // will wait
    rig.loop.at(Start + 1.5, [&] { rig.form.close(); });
    rig.connect();

    QCOMPARE(rig.sent(1), QByteArray("a"));
    QCOMPARE(rig.loop.now(), Start + 1.5);   // left right after the yield that saw the stop
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.shared.busy());
    QCOMPARE(rig.closes(1), std::size_t(0));   // the playback does not close it
    QCOMPARE(rig.closes(2), std::size_t(1));   // the waiting client is let go
    QCOMPARE(rig.form.FRM_Winsock.backColour(), ui::Yellow);
    QVERIFY(rig.form.frm_green.visible());
    QVERIFY(!rig.form.CMD_Answers.enabled());
    QVERIFY(!rig.form.CMD_OriginalConfig.enabled());
    QCOMPARE(rig.output(), QByteArray("a\r\n"));
    QVERIFY(!rig.network.listening());

    rig.returnToEventLoop();
    rig.connect();
    QCOMPARE(rig.sent(3), QByteArray());   // nothing more is served
    QCOMPARE(rig.shared.connectionIndex, 1);
}

QTEST_GUILESS_MAIN(tst_Console)
#include "tst_console.moc"
