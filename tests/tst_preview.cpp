// tst_preview.cpp: Show Responses, paced by a fake clock, with real files and the real listener.
#include "tests/support/panel_rig.h"

#include <QTest>

#include <vector>

using namespace zentrel;

namespace {

// Four items: two on the first line, an indented one, a quoted one with a comma.
const QByteArray Script = "one,two\r\n   three\r\n\"four, five\"\r\n";
const QByteArray Shown = "one\r\ntwo\r\nthree\r\nfour, five\r\n";

struct Rig : tests::PanelRig {
    const double start = loop.now();

    // The window as a clean start-up leaves it, with the script in place.
    explicit Rig(double delay, const QByteArray &script = Script)
    {
        application.shared().responseDelay = delay;
        dir.write("RESPONSE.TXT", script);
        dir.write("ROUTER.CFG", "hostname Demo\r\n");
    }
    // At the given number of seconds after the start of the preview.
    void at(double seconds, std::function<void()> function) { loop.at(start + seconds, function); }
    // The click, then the event loop until nothing is left to do.
    void showResponses()
    {
        form.CMD_Answers.onClick();
        loop.run();
    }
};

// What the operator sees at one moment of the preview.
struct Seen {
    QByteArray text;
    bool green, red, yellow;
    bool answers, originalConfig;
};

Seen look(const ui::ZentrelFRM &form)
{
    return {QByteArray::fromStdString(form.TXT_OutPut.text()), form.frm_green.visible(),
            form.FRM_Red.visible(),  form.FRM_Yellow.visible(), form.CMD_Answers.enabled(),
            form.CMD_OriginalConfig.enabled()};
}

void verifyIdleAfterPreview(Rig &rig)
{
    const ui::ZentrelFRM &form = rig.form;
    QVERIFY(!form.frm_green.visible());
    QVERIFY(!form.FRM_Red.visible());
    QVERIFY(!form.FRM_Yellow.visible());
    QVERIFY(form.CMD_Answers.enabled());
    QVERIFY(form.CMD_OriginalConfig.enabled());
    QCOMPARE(form.LBL_titre.caption(), std::string("Responses"));
    QVERIFY(form.LBL_titre.visible());
    QVERIFY(!form.LBL_ProgName.visible());
    QVERIFY(form.TXT_OutPut.visible());
    QVERIFY(!form.TXT_Input.visible());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(!rig.application.preview().running());
}

} // namespace

class tst_Preview : public QObject
{
    Q_OBJECT
private slots:
    void preview_showsItemsOneByOne();
    void preview_showsScript_data();
    void preview_showsScript();
    void preview_delayZero_showsAllWithoutYielding();
    void preview_stopDuringPause_closesFileAndTouchesNothing();
    void preview_noScript_endsAtOnce_data();
    void preview_noScript_endsAtOnce();
    void preview_scriptChangedUnderIt_showsItAsItWas();
    void preview_clientArriving_isServedAfter();
    void preview_clickStorm_leavesEveryCommandWorking();
};

void tst_Preview::preview_showsItemsOneByOne()
{
    Rig rig(1.0);
    rig.form.TXT_Input.setVisible(true);
    rig.form.TXT_Input.setText("typed\r\n");
    std::vector<Seen> seen;
    for (int k = 0; k < 4; ++k)
        rig.at(k + 0.5, [&] { seen.push_back(look(rig.form)); });

    rig.showResponses();

    QCOMPARE(int(seen.size()), 4);
    const QList<QByteArray> items = Shown.split('\n');
    QByteArray expected;
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(seen[k].text, expected);
        const bool lit = k % 2 == 1;   // the first item lights the lamps, the second puts them out
        QCOMPARE(seen[k].green, lit);
        QCOMPARE(seen[k].red, lit);
        QCOMPARE(seen[k].yellow, lit);
        QVERIFY(!seen[k].answers);
        QVERIFY(!seen[k].originalConfig);
        expected += items[k] + '\n';
    }
    QCOMPARE(QByteArray::fromStdString(rig.form.TXT_OutPut.text()), Shown);
    QCOMPARE(rig.loop.now(), rig.start + 4.0);   // one pause per item, none after the last
    QCOMPARE(rig.form.TXT_Input.text(), std::string("typed\r\n"));
    verifyIdleAfterPreview(rig);
}

void tst_Preview::preview_showsScript_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<int>("pauses");
    QTest::newRow("empty script") << QByteArray() << QByteArray() << 0;
    QTest::newRow("two words, one line") << QByteArray("Username:,Password:\r\n")
                                         << QByteArray("Username:\r\nPassword:\r\n") << 2;
    QTest::newRow("empty line") << QByteArray("a\r\n\r\nb\r\n") << QByteArray("a\r\n\r\nb\r\n")
                                << 3;
    QTest::newRow("last line without line end")
        << QByteArray("a\r\nRouter>") << QByteArray("a\r\nRouter>\r\n") << 2;
}

void tst_Preview::preview_showsScript()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, shown);
    QFETCH(int, pauses);
    Rig rig(0.25, script);
    rig.form.setTrafficLampsVisible(true);

    rig.showResponses();

    QCOMPARE(QByteArray::fromStdString(rig.form.TXT_OutPut.text()), shown);
    QCOMPARE(rig.loop.now(), rig.start + 0.25 * pauses);
    verifyIdleAfterPreview(rig);
}

void tst_Preview::preview_delayZero_showsAllWithoutYielding()
{
    Rig rig(0.0);
    bool clicked = false;
    rig.at(0, [&] { clicked = true; });

    rig.form.CMD_Answers.onClick();
    // All shown inside the click: nothing else ran meanwhile.
    QCOMPARE(QByteArray::fromStdString(rig.form.TXT_OutPut.text()), Shown);
    QCOMPARE(rig.loop.yields(), 0);
    QVERIFY(!clicked);
    rig.loop.run();
    verifyIdleAfterPreview(rig);
}

// The window unloads during the pause before the second item: the preview
// leaves no file open and every element as the first item left it.
void tst_Preview::preview_stopDuringPause_closesFileAndTouchesNothing()
{
    Rig rig(1.0);
    Seen before{};
    rig.at(1.5, [&] {
        before = look(rig.form);
        rig.form.CMD_Quitter.onClick();
    });

    rig.showResponses();

    QCOMPARE(rig.application.shared().stopRequested, std::int16_t(1));
    QCOMPARE(rig.files.alive(), 0);
    const Seen after = look(rig.form);
    QCOMPARE(after.text, QByteArray("one\r\n"));
    QCOMPARE(after.text, before.text);
    QVERIFY(after.green && after.red && after.yellow);
    QVERIFY(!after.answers);
    QVERIFY(!after.originalConfig);
    QCOMPARE(rig.form.LBL_titre.caption(), std::string("Responses"));
    QVERIFY(rig.loop.now() < rig.start + 2.0);

    rig.loop.runPosted();
    QCOMPARE(look(rig.form).text, QByteArray("one\r\n"));
}

void tst_Preview::preview_noScript_endsAtOnce_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("missing") << false;
    QTest::newRow("a directory of that name") << true;
}

void tst_Preview::preview_noScript_endsAtOnce()
{
    QFETCH(bool, directory);
    Rig rig(1.0);
    QVERIFY(QFile::remove(rig.dir.file("RESPONSE.TXT")));
    if (directory)
        QVERIFY(QDir(rig.dir.path()).mkdir("RESPONSE.TXT"));
    rig.form.TXT_OutPut.setText("old\r\n");
    rig.form.setTrafficLampsVisible(true);

    rig.showResponses();

    QCOMPARE(rig.form.TXT_OutPut.text(), std::string());
    QCOMPARE(rig.loop.yields(), 0);
    verifyIdleAfterPreview(rig);
}

// The script is read whole when the preview begins: removing or rewriting
// the file during a pause changes nothing of what is shown.
void tst_Preview::preview_scriptChangedUnderIt_showsItAsItWas()
{
    Rig rig(1.0);
    rig.at(1.5, [&] { QVERIFY(QFile::remove(rig.dir.file("RESPONSE.TXT"))); });
    rig.at(2.5, [&] { rig.dir.write("RESPONSE.TXT", "other\r\n"); });

    rig.showResponses();

    QCOMPARE(QByteArray::fromStdString(rig.form.TXT_OutPut.text()), Shown);
    verifyIdleAfterPreview(rig);
}

// A client that connects during the preview is neither accepted nor lost: it
// waits, and is served its own playback once the preview has ended.
void tst_Preview::preview_clientArriving_isServedAfter()
{
    Rig rig(1.0);
    bool acceptedDuringPreview = true;
    QByteArray shownAtTheEnd;
    rig.at(0.5, [&] { rig.network.clientConnects(); });
    rig.at(2.5, [&] { acceptedDuringPreview = rig.application.shared().connectionIndex != 0; });
    // After the preview, before the client's first item.
    rig.at(4.5, [&] { shownAtTheEnd = QByteArray::fromStdString(rig.form.TXT_OutPut.text()); });

    rig.showResponses();

    QVERIFY(!acceptedDuringPreview);
    QCOMPARE(shownAtTheEnd, Shown);
    QCOMPARE(rig.application.shared().connectionIndex, 1);
    QCOMPARE(QByteArray::fromStdString(rig.network.client(1).sent), QByteArray("onetwothreefour, five"));
    QCOMPARE(rig.network.client(1).closeTimes.size(), std::size_t(1));
    QCOMPARE(rig.files.alive(), 0);
}

// Hundreds of clicks during a pause, on everything the operator can reach
// and on the two buttons that should be disabled: the preview runs to its end
// and every command works afterwards.
void tst_Preview::preview_clickStorm_leavesEveryCommandWorking()
{
    Rig rig(1.0);
    ui::ZentrelFRM &form = rig.form;
    rig.at(1.5, [&] {
        for (int i = 0; i < 100; ++i) {
            form.Picture1.onClick();
            form.FRM_Vert.onClick();
            form.LBL_titre.onClick();
            form.CMD_ReceivedCommands.onClick();
            form.CMD_OriginalConfig.onClick();
            form.CMD_Answers.onClick();
        }
    });

    rig.showResponses();

    // The last toggle emptied the panel after the first item; the others followed.
    QCOMPARE(QByteArray::fromStdString(form.TXT_OutPut.text()),
             QByteArray("two\r\nthree\r\nfour, five\r\n"));
    QCOMPARE(rig.loop.now(), rig.start + 4.0);
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(form.CMD_Answers.enabled());
    QVERIFY(form.CMD_OriginalConfig.enabled());

    form.CMD_OriginalConfig.onClick();
    QCOMPARE(form.TXT_OutPut.text(), std::string("hostname Demo\r\n"));
    rig.showResponses();
    QCOMPARE(QByteArray::fromStdString(form.TXT_OutPut.text()), Shown);
    verifyIdleAfterPreview(rig);
}

QTEST_MAIN(tst_Preview)
#include "tst_preview.moc"
