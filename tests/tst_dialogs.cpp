// tst_dialogs.cpp: the operator's message boxes: icon, buttons, texts and the answer given.
#include "platform/qt/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

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

    QtDialogs dialogs;
    QCOMPARE(dialogs.messageBox(text, "Zentrel", icon, buttons), answer);
    QCOMPARE(seenText, QString::fromLatin1(text.c_str()));
    QCOMPARE(seenTitle, QString("Zentrel"));
    QCOMPARE(seenIcon, shownIcon);
    QCOMPARE(seenButtons, buttons == Dialogs::Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                              : QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
