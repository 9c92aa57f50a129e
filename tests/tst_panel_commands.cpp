// tst_panel_commands.cpp: the toggle and title clicks, Original Config, Received Commands and Exit.
#include "tests/support/panel_rig.h"

#include <QTest>

using namespace zentrel;

namespace {

using Rig = tests::PanelRig;

void clickElement(ui::ZentrelFRM &form, const QString &name)
{
    ui::Element *element = form.find(name.toStdString());
    QVERIFY(element);
    if (auto *picture = dynamic_cast<ui::PictureBox *>(element))
        picture->onClick();
    else if (auto *label = dynamic_cast<ui::Label *>(element))
        label->onClick();
    else if (auto *button = dynamic_cast<ui::Button *>(element))
        button->onClick();
    else
        QFAIL("not a clickable element");
}

QByteArray outPut(const ui::ZentrelFRM &form)
{
    return QByteArray::fromStdString(form.TXT_OutPut.text());
}

} // namespace

class tst_PanelCommands : public QObject
{
    Q_OBJECT
private slots:
    void toggleClick_data();
    void toggleClick();
    void toggleClick_expandsThenCollapses_data();
    void toggleClick_expandsThenCollapses();
    void titleClick_data();
    void titleClick();
    void originalConfig_data();
    void originalConfig();
    void originalConfig_twiceShowsOnce();
    void originalConfig_unreadable_data();
    void originalConfig_unreadable();
    void receivedCommands_data();
    void receivedCommands();
    void exit_unloadsOnceAndStopsEverything();
};

void tst_PanelCommands::toggleClick_data()
{
    QTest::addColumn<bool>("alarm");
    QTest::addColumn<float>("height");
    QTest::addColumn<bool>("progNameBefore");
    QTest::addColumn<float>("expectedHeight");
    QTest::addColumn<bool>("expectedProgName");
    QTest::addColumn<bool>("expectedTitre");
    QTest::addColumn<bool>("cleared");

    const float compact = ui::CompactHeight, expanded = ui::ExpandedHeight;
    QTest::newRow("compact expands") << false << compact << true << expanded << true << true << true;
    QTest::newRow("compact expands, name left hidden")
        << false << compact << false << expanded << false << true << true;
    QTest::newRow("expanded collapses")
        << false << expanded << false << compact << true << false << true;
    QTest::newRow("other height collapses")
        << false << 2000.0f << false << compact << true << false << true;
    QTest::newRow("just off compact collapses")
        << false << 1635.5f << false << compact << true << false << true;
    QTest::newRow("alarm blocks at compact")
        << true << compact << true << compact << true << true << false;
    QTest::newRow("alarm blocks at expanded")
        << true << expanded << false << expanded << false << true << false;
}

void tst_PanelCommands::toggleClick()
{
    QFETCH(bool, alarm);
    QFETCH(float, height);
    QFETCH(bool, progNameBefore);
    QFETCH(float, expectedHeight);
    QFETCH(bool, expectedProgName);
    QFETCH(bool, expectedTitre);
    QFETCH(bool, cleared);

    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    form.Timer1.setEnabled(alarm);
    form.setHeight(height);
    form.LBL_ProgName.setVisible(progNameBefore);
    form.LBL_titre.setVisible(true);
    form.LBL_titre.setCaption("Original Configuration");
    form.TXT_OutPut.setText("hostname Demo\r\n");
    form.TXT_Input.setText("show run\r\n");

    form.Picture1.onClick();

    QCOMPARE(form.height(), expectedHeight);
    QCOMPARE(form.LBL_ProgName.visible(), expectedProgName);
    QCOMPARE(form.LBL_titre.visible(), expectedTitre);
    QCOMPARE(form.LBL_titre.caption(), cleared ? std::string() : "Original Configuration");
    QCOMPARE(form.TXT_OutPut.text(), cleared ? std::string() : "hostname Demo\r\n");
    QCOMPARE(form.TXT_Input.text(), std::string("show run\r\n"));
    QCOMPARE(form.Timer1.enabled(), alarm);
}

void tst_PanelCommands::toggleClick_expandsThenCollapses_data()
{
    QTest::addColumn<QString>("element");
    QTest::newRow("Picture1") << "Picture1";
    QTest::newRow("FRM_Vert") << "FRM_Vert";
    QTest::newRow("LBL_ProgName") << "LBL_ProgName";
}

void tst_PanelCommands::toggleClick_expandsThenCollapses()
{
    QFETCH(QString, element);
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    form.TXT_OutPut.setText("left over\r\n");

    clickElement(form, element);
    QCOMPARE(form.height(), ui::ExpandedHeight);
    QVERIFY(form.LBL_titre.visible());
    QCOMPARE(form.LBL_titre.caption(), std::string());
    QCOMPARE(form.TXT_OutPut.text(), std::string());

    clickElement(form, element);
    QCOMPARE(form.height(), ui::CompactHeight);
    QVERIFY(form.LBL_ProgName.visible());
    QVERIFY(!form.LBL_titre.visible());
    QCOMPARE(form.TXT_OutPut.text(), std::string());
}

void tst_PanelCommands::titleClick_data()
{
    QTest::addColumn<bool>("alarm");
    QTest::addColumn<float>("height");
    QTest::newRow("expanded") << false << ui::ExpandedHeight;
    QTest::newRow("compact") << false << ui::CompactHeight;
    QTest::newRow("expanded, alarm running") << true << ui::ExpandedHeight;
}

void tst_PanelCommands::titleClick()
{
    QFETCH(bool, alarm);
    QFETCH(float, height);
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    form.Timer1.setEnabled(alarm);
    form.setHeight(height);
    form.LBL_ProgName.setVisible(false);
    form.LBL_titre.setVisible(true);
    form.LBL_titre.setCaption("Received Commands");
    form.TXT_OutPut.setText("kept\r\n");

    form.LBL_titre.onClick();

    QCOMPARE(form.height(), ui::CompactHeight);
    QVERIFY(!form.LBL_titre.visible());
    QVERIFY(form.LBL_ProgName.visible());
    QCOMPARE(form.LBL_titre.caption(), std::string("Received Commands"));
    QCOMPARE(form.TXT_OutPut.text(), std::string("kept\r\n"));
}

void tst_PanelCommands::originalConfig_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("comma splits")
        << QByteArray("Eth3, Sleeping\r\n") << QByteArray("Eth3\r\nSleeping\r\n");
    QTest::newRow("indentation dropped")
        << QByteArray("interface Eth0\r\n   no shutdown\r\n")
        << QByteArray("interface Eth0\r\nno shutdown\r\n");
    QTest::newRow("quoted comma kept")
        << QByteArray("\"Speed, Span\"\r\n") << QByteArray("Speed, Span\r\n");
    QTest::newRow("empty line kept") << QByteArray("a\r\n\r\nb\r\n") << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("high bytes unchanged")
        << QByteArray("Caf\xe9 \xff\r\n") << QByteArray("Caf\xe9 \xff\r\n");
}

void tst_PanelCommands::originalConfig()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, shown);
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    rig.dir.write("ROUTER.CFG", file);
    form.setHeight(ui::ExpandedHeight);
    form.TXT_Input.setVisible(true);
    form.TXT_OutPut.setText("previous\r\n");

    form.CMD_OriginalConfig.onClick();

    QCOMPARE(outPut(form), shown);
    QCOMPARE(form.LBL_titre.caption(), std::string("Original Configuration"));
    QVERIFY(form.LBL_titre.visible());
    QVERIFY(!form.LBL_ProgName.visible());
    QVERIFY(!form.TXT_Input.visible());
    QVERIFY(form.TXT_OutPut.visible());
    QCOMPARE(rig.files.alive(), 0);
}

void tst_PanelCommands::originalConfig_twiceShowsOnce()
{
    Rig rig;
    rig.dir.write("ROUTER.CFG", "hostname Demo-Router\r\nend\r\n");
    rig.form.CMD_OriginalConfig.onClick();
    rig.form.CMD_OriginalConfig.onClick();
    QCOMPARE(outPut(rig.form), QByteArray("hostname Demo-Router\r\nend\r\n"));
}

void tst_PanelCommands::originalConfig_unreadable_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("missing") << false;
    QTest::newRow("a directory of that name") << true;
}

// The file went away after start-up found it: the panel shows the title over
// an empty text area, no file is left open and the command works again later.
void tst_PanelCommands::originalConfig_unreadable()
{
    QFETCH(bool, directory);
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    if (directory)
        QVERIFY(QDir(rig.dir.path()).mkdir("ROUTER.CFG"));
    form.TXT_OutPut.setText("previous\r\n");

    form.CMD_OriginalConfig.onClick();

    QCOMPARE(outPut(form), QByteArray());
    QCOMPARE(form.LBL_titre.caption(), std::string("Original Configuration"));
    QVERIFY(form.LBL_titre.visible());
    QVERIFY(form.TXT_OutPut.visible());
    QCOMPARE(rig.files.alive(), 0);
    QVERIFY(form.CMD_OriginalConfig.enabled());

    if (directory)
        QVERIFY(QDir(rig.dir.path()).rmdir("ROUTER.CFG"));
    rig.dir.write("ROUTER.CFG", "back again\r\n");
    form.CMD_OriginalConfig.onClick();
    QCOMPARE(outPut(form), QByteArray("back again\r\n"));
}

void tst_PanelCommands::receivedCommands_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("client typed a command") << QByteArray("show version\r\n")
                                            << QByteArray("show version\r\n");
    QTest::newRow("client typed nothing") << QByteArray() << QByteArray();
}

// A client is served through the window's router, then the operator looks at
// what it typed.
void tst_PanelCommands::receivedCommands()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, shown);
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    rig.dir.write("RESPONSE.TXT", "Router>\r\n");
    rig.application.shared().responseDelay = 1.0;
    if (!typed.isEmpty())
        rig.loop.at(rig.loop.now() + 0.5,
                    [&] { rig.network.clientSends(1, typed.toStdString()); });

    rig.network.clientConnects();
    rig.loop.run();
    QCOMPARE(rig.network.client(1).closeTimes.size(), std::size_t(1));
    QCOMPARE(form.CMD_ReceivedCommands.enabled(), !typed.isEmpty());

    form.LBL_titre.onClick();
    form.Picture1.onClick();   // expanded, TXT_OutPut emptied
    const bool outPutVisible = form.TXT_OutPut.visible();
    form.CMD_ReceivedCommands.onClick();

    QCOMPARE(QByteArray::fromStdString(form.TXT_Input.text()), shown);
    QVERIFY(form.TXT_Input.visible());
    QCOMPARE(form.TXT_OutPut.visible(), outPutVisible);
    QCOMPARE(form.LBL_titre.caption(), std::string("Received Commands"));
    QVERIFY(form.LBL_titre.visible());
    QVERIFY(!form.LBL_ProgName.visible());
}

// Exit, clicked any number of times, unloads the window once; every click
// that is still delivered afterwards leaves the window alone.
void tst_PanelCommands::exit_unloadsOnceAndStopsEverything()
{
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    int unloads = 0;
    auto shutdown = form.onUnload;
    form.onUnload = [&] {
        ++unloads;
        shutdown();
    };

    for (int i = 0; i < 100; ++i)
        form.CMD_Quitter.onClick();

    QCOMPARE(unloads, 1);
    QVERIFY(form.unloaded());
    QCOMPARE(rig.application.shared().stopRequested, std::int16_t(1));

    rig.dir.write("ROUTER.CFG", "hostname Demo\r\n");
    form.TXT_OutPut.setText("last\r\n");
    form.Picture1.onClick();
    form.CMD_OriginalConfig.onClick();
    QCOMPARE(form.height(), ui::CompactHeight);
    QCOMPARE(outPut(form), QByteArray("last\r\n"));
    QCOMPARE(rig.files.alive(), 0);
}

QTEST_MAIN(tst_PanelCommands)
#include "tst_panel_commands.moc"
