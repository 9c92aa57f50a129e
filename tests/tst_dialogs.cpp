// tst_dialogs.cpp: the operator's message boxes: icon, buttons, texts and the answer given.
#include "platform/qt/qt_dialogs.h"
#include "tests/support/zentrel_process.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace zentrel;
using platform::Dialogs;
using platform::QtDialogs;

Q_DECLARE_METATYPE(Dialogs::Icon)
Q_DECLARE_METATYPE(Dialogs::Buttons)
Q_DECLARE_METATYPE(Dialogs::Answer)

class tst_Dialogs : public QObject
{
    Q_OBJECT
private slots:
    void messageBox_showsAndAnswers_data();
    void messageBox_showsAndAnswers();
    void noScreen_printsAndTakesSafeAnswer();
    void noScreen_startupAndRefusedCopyEndTheirWait();
};

void tst_Dialogs::messageBox_showsAndAnswers_data()
{
    QTest::addColumn<Dialogs::Icon>("icon");
    QTest::addColumn<Dialogs::Buttons>("buttons");
    QTest::addColumn<int>("press");   // a QMessageBox::StandardButton, or 0 for Escape
    QTest::addColumn<QMessageBox::Icon>("shownIcon");
    QTest::addColumn<Dialogs::Answer>("answer");
    QTest::newRow("question, yes") << Dialogs::Icon::Question << Dialogs::Buttons::YesNo
                                   << int(QMessageBox::Yes) << QMessageBox::Question << Dialogs::Answer::Yes;
    QTest::newRow("question, no") << Dialogs::Icon::Question << Dialogs::Buttons::YesNo
                                  << int(QMessageBox::No) << QMessageBox::Question << Dialogs::Answer::No;
    QTest::newRow("question, escape") << Dialogs::Icon::Question << Dialogs::Buttons::YesNo << 0
                                      << QMessageBox::Question << Dialogs::Answer::No;
    QTest::newRow("critical") << Dialogs::Icon::Critical << Dialogs::Buttons::Ok << int(QMessageBox::Ok)
                              << QMessageBox::Critical << Dialogs::Answer::Ok;
    QTest::newRow("exclamation") << Dialogs::Icon::Exclamation << Dialogs::Buttons::Ok
                                 << int(QMessageBox::Ok) << QMessageBox::Warning << Dialogs::Answer::Ok;
    QTest::newRow("information") << Dialogs::Icon::Information << Dialogs::Buttons::Ok << 0
                                 << QMessageBox::Information << Dialogs::Answer::Ok;
}

void tst_Dialogs::messageBox_showsAndAnswers()
{
    QFETCH(Dialogs::Icon, icon);
    QFETCH(Dialogs::Buttons, buttons);
    QFETCH(int, press);
    QFETCH(QMessageBox::Icon, shownIcon);
    QFETCH(Dialogs::Answer, answer);

    const std::string text = "ROUTER.CFG caf\xe9 <b>not</b> found";
    QString seenText, seenTitle;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons seenButtons;
    // Plays the operator once the box is up.
    std::function<void()> operate = [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, operate);
            return;
        }
        seenText = box->text();
        seenTitle = box->windowTitle();
        seenIcon = box->icon();
        seenButtons = box->standardButtons();
        if (press)
            box->button(QMessageBox::StandardButton(press))->click();
        else
            QTest::keyClick(box, Qt::Key_Escape);
    };
    QTimer::singleShot(0, operate);

    QtDialogs dialogs(QtDialogs::Presentation::Box);
    QCOMPARE(dialogs.messageBox(text, "Zentrel", icon, buttons), answer);
    QCOMPARE(seenText, QString::fromLatin1(text.c_str()));
    QCOMPARE(seenTitle, QString("Zentrel"));
    QCOMPARE(seenIcon, shownIcon);
    QCOMPARE(seenButtons, buttons == Dialogs::Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                              : QMessageBox::StandardButtons(QMessageBox::Ok));
}

// These tests run on the offscreen platform: a box shown there would wait for ever.
void tst_Dialogs::noScreen_printsAndTakesSafeAnswer()
{
    QVERIFY(QtDialogs::screenless());
    int boxes = 0;
    QTimer guard;   // closes any box that is shown anyway, so a failure cannot hang
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            ++boxes;
            box->done(QMessageBox::Yes);
        }
    });
    guard.start(10);

    std::fflush(stderr);
    FILE *capture = std::tmpfile();
    const int saved = ::dup(2);
    ::dup2(fileno(capture), 2);
    QtDialogs dialogs;
    const auto question = dialogs.messageBox("Create it now ?", "No File", Dialogs::Icon::Exclamation,
                                             Dialogs::Buttons::YesNo);
    const auto warning = dialogs.messageBox("Software already loaded.", "Error", Dialogs::Icon::Critical,
                                            Dialogs::Buttons::Ok);
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    QByteArray printed(4096, '\0');
    std::rewind(capture);
    printed.resize(qsizetype(std::fread(printed.data(), 1, size_t(printed.size()), capture)));
    std::fclose(capture);

    QCOMPARE(question, Dialogs::Answer::No);
    QCOMPARE(warning, Dialogs::Answer::Ok);
    QCOMPARE(boxes, 0);
    QVERIFY2(printed.contains("No File: Create it now ?"), printed.constData());
    QVERIFY2(printed.contains("Error: Software already loaded."), printed.constData());
}

// The real program offscreen with both data files missing: it asks nothing,
// creates nothing and listens; a second copy is refused and ends.
void tst_Dialogs::noScreen_startupAndRefusedCopyEndTheirWait()
{
    tests::ZentrelProcess first;
    const quint16 port = tests::freePort();
    first.write("zentrel.ini", "[Settings]\r\nTCP-Port=" + QByteArray::number(port) + "\r\n");
    const QString started = first.startInPlace(port);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    QByteArray printed;
    QTRY_VERIFY_WITH_TIMEOUT((printed += first.output()).contains("RESPONSE.TXT file doesn't exists"), 10000);
    QVERIFY(printed.contains("Router.cfg file doesn't exists"));
    QVERIFY(!QFile::exists(first.file("ROUTER.CFG")));

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", first.file("runtime"));
    environment.insert("TMPDIR", first.file("tmp"));
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(first.directory());
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(ZENTREL_BINARY, {});
    QVERIFY(second.waitForFinished(30000));
    QVERIFY(second.readAll().contains("Error: Software already loaded."));
    QVERIFY(first.running());
    QVERIFY(first.terminate(10000));
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
