// tst_view.cpp: the Qt view of ZentrelFRM: widgets, syncing, text panels, clicks, keys, timer, close.
#include "ui/qt/qt_view.h"
#include "ui/qt/qt_view_help.h"
#include "ui/qt/qt_view_text.h"
#include "tests/support/current_dir.h"
#include "ui/window_model.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

#include <cmath>
#include <memory>

using namespace zentrel;

namespace {

// A model and its view; the model outlives the view, as in main.cpp.
struct Rig {
    ui::ZentrelFRM form;
    ui::QtView view{form};

    QWidget *window() const { return view.widget(); }
    template <class T> T *find(const char *name) const
    {
        return window()->findChild<T *>(QLatin1String(name));
    }
    void showAndWait()
    {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }
};

// The view's pass of the event loop: everything posted so far is dispatched.
void nextPass()
{
    QCoreApplication::processEvents();
}

int px(double twips)
{
    return int(std::lround(twips * QGuiApplication::primaryScreen()->logicalDotsPerInch() / 1440));
}

} // namespace

class tst_View : public QObject
{
    Q_OBJECT
private slots:
    void initialState_matchesModel();
    void changes_reachWidgetsOnNextPassOnly();
    void refresh_showsTextAtOnce();
    void appends_manyShownExactlyAfterOnePass();
    void textBox_showsLineBreaks_data();
    void textBox_showsLineBreaks();
    void setText_replacesShownText();
    void floodedPanel_showsDropLineFirst();
    void textPanel_selectAndCopy();
    void hiddenTextBox_catchesUpWhenShown();
    void inputPanel_coversOutputPanel();
    void alarmTitle_readableOverProgramName();
    void window_fixedWithoutMaximizeButton();
    void clicks_reachOnlyTheirElement_data();
    void clicks_reachOnlyTheirElement();
    void click_onButtonDisabledInModel_isIgnored();
    void accessKeys_pressButtons_data();
    void accessKeys_pressButtons();
    void focusOrder_followsModel();
    void clientHeight_followsModelHeight();
    void position_absurdValuesStayPlaceable_data();
    void position_absurdValuesStayPlaceable();
    void position_operatorMoveWrittenBack();
    void timer_ticksOnlyWhileEnabled();
    void close_hidesWindowAndUnloadsOnce_data();
    void close_hidesWindowAndUnloadsOnce();
    void refusedCopy_topmostWindowNeverShown();
    void f1_showsGuideWithoutHelpFile();
    void helpFile_foundByBareNameOnly_data();
    void helpFile_foundByBareNameOnly();
};

void tst_View::initialState_matchesModel()
{
    Rig rig;
    QWidget *window = rig.window();
    QCOMPARE(window->objectName(), QStringLiteral("ZentrelFRM"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Zentrel"));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->minimumSize(), window->maximumSize());   // the border is fixed

    for (ui::Element *element : rig.form.elements()) {
        const QString name = QString::fromStdString(element->name());
        if (element->kind() == ui::Kind::Timer)
            continue;
        auto *widget = window->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->isVisibleTo(window), element->visible());
        QCOMPARE(widget->size(), QSize(px(element->geometry().width), px(element->geometry().height)));
        const QString parent = element->container() == &rig.form
                                   ? QStringLiteral("ZentrelFRM")
                                   : QString::fromStdString(element->container()->name());
        QCOMPARE(widget->parentWidget()->objectName(), parent);

        switch (element->kind()) {
        case ui::Kind::Label:
            QCOMPARE(qobject_cast<QLabel *>(widget)->text(),
                     QString::fromStdString(static_cast<ui::Label *>(element)->caption()));
            break;
        case ui::Kind::Button:
            QCOMPARE(widget->isEnabled(), static_cast<ui::Button *>(element)->enabled());
            QCOMPARE(qobject_cast<QPushButton *>(widget)->text(),
                     QString::fromStdString(static_cast<ui::Button *>(element)->caption()));
            break;
        case ui::Kind::TextBox:
            QVERIFY(qobject_cast<ui::TextPanel *>(widget));
            break;
        case ui::Kind::PictureBox:
            QVERIFY(!qobject_cast<QLabel *>(widget)->pixmap().isNull());
            break;
        default:
            QVERIFY(qobject_cast<QFrame *>(widget));
        }
    }
    QCOMPARE(rig.find<ui::TextPanel>("TXT_OutPut")->toPlainText(), QStringLiteral("Text1\n"));
    QCOMPARE(rig.find<QFrame>("FRM_On")->palette().color(QPalette::Window), QColor(0, 255, 0));
    QCOMPARE(rig.find<QFrame>("frm_green")->palette().color(QPalette::Window),
             QColor(128, 255, 128));
    QCOMPARE(rig.find<QLabel>("LBL_ProgName")->palette().color(QPalette::WindowText),
             window->palette().color(QPalette::HighlightedText));
    QCOMPARE(rig.find<QLabel>("Label3")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

void tst_View::changes_reachWidgetsOnNextPassOnly()
{
    Rig rig;
    rig.form.setCaption("Zentrel 2.0");
    rig.form.LBL_Delay.setCaption("Delay : 0.5 s");
    rig.form.LBL_titre.setVisible(false);
    rig.form.FRM_On.setBackColour(ui::Red);
    rig.form.CMD_Answers.setEnabled(true);
    rig.form.setTrafficLampsVisible(true);
    rig.form.TXT_OutPut.setText("");

    QCOMPARE(rig.window()->windowTitle(), QStringLiteral("Zentrel"));
    QCOMPARE(rig.find<QLabel>("LBL_Delay")->text(), QStringLiteral("Delay : 1000 ms"));
    QVERIFY(rig.find<QLabel>("LBL_titre")->isVisibleTo(rig.window()));
    QCOMPARE(rig.find<QFrame>("FRM_On")->palette().color(QPalette::Window), QColor(0, 255, 0));
    QVERIFY(!rig.find<QPushButton>("CMD_Answers")->isEnabled());
    QVERIFY(!rig.find<QFrame>("FRM_Red")->isVisibleTo(rig.window()));
    QCOMPARE(rig.find<ui::TextPanel>("TXT_OutPut")->shownBytes(), std::size_t(7));   // "Text1\r\n"

    nextPass();
    QCOMPARE(rig.window()->windowTitle(), QStringLiteral("Zentrel 2.0"));
    QCOMPARE(rig.find<QLabel>("LBL_Delay")->text(), QStringLiteral("Delay : 0.5 s"));
    QVERIFY(!rig.find<QLabel>("LBL_titre")->isVisibleTo(rig.window()));
    QCOMPARE(rig.find<QFrame>("FRM_On")->palette().color(QPalette::Window), QColor(255, 0, 0));
    QVERIFY(rig.find<QPushButton>("CMD_Answers")->isEnabled());
    QVERIFY(rig.find<QFrame>("FRM_Red")->isVisibleTo(rig.window()));
    QVERIFY(rig.find<ui::TextPanel>("TXT_OutPut")->toPlainText().isEmpty());
    for (ui::Element *element : rig.form.elements())
        QVERIFY(!element->hasChanged());
}

void tst_View::refresh_showsTextAtOnce()
{
    // Client input: the text box is shown and painted inside the data-arrival
    // handler, not when the loop next gets control.
    Rig rig;
    rig.form.setHeight(ui::ExpandedHeight);
    rig.form.TXT_Input.setVisible(true);
    rig.showAndWait();
    rig.form.TXT_Input.append("enable\r\n");
    rig.form.TXT_Input.refresh();
    QCOMPARE(rig.find<ui::TextPanel>("TXT_Input")->toPlainText(), QStringLiteral("enable\n"));
    rig.form.TXT_Input.append("x");
    nextPass();
    QCOMPARE(rig.find<ui::TextPanel>("TXT_Input")->toPlainText(), QStringLiteral("enable\nx"));
}

void tst_View::appends_manyShownExactlyAfterOnePass()
{
    Rig rig;
    rig.showAndWait();
    rig.form.setHeight(ui::ExpandedHeight);
    rig.form.TXT_OutPut.setText("");
    nextPass();

    // A playback at Delay 0: item after item, lamps blinking, no event in between.
    QString expected;
    for (int i = 0; i < 100000; ++i) {
        const std::string item = "item " + std::to_string(i);
        rig.form.TXT_OutPut.append(item);
        rig.form.TXT_OutPut.append("\r\n");
        rig.form.setTrafficLampsVisible(i % 2 == 0);
        expected += QString::fromStdString(item) + QLatin1Char('\n');
    }
    auto *edit = rig.find<ui::TextPanel>("TXT_OutPut");
    QVERIFY(edit->toPlainText().isEmpty());
    nextPass();
    QCOMPARE(edit->toPlainText(), expected);
    QVERIFY(!rig.find<QFrame>("frm_green")->isVisibleTo(rig.window()));

    rig.form.TXT_OutPut.append("last\r\n");
    nextPass();
    QCOMPARE(edit->toPlainText(), expected + QStringLiteral("last\n"));
    QCOMPARE(edit->verticalScrollBar()->value(), edit->verticalScrollBar()->maximum());
}

void tst_View::textBox_showsLineBreaks_data()
{
    QTest::addColumn<QByteArrayList>("appends");   // a pass of the event loop after each
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR LF") << QByteArrayList{"a\r\nb\r\n"} << QStringLiteral("a\nb\n");
    QTest::newRow("lone CR") << QByteArrayList{"a\rb"} << QStringLiteral("a\nb");
    QTest::newRow("lone LF") << QByteArrayList{"a\nb"} << QStringLiteral("a\nb");
    QTest::newRow("CR then LF in the next append")
        << QByteArrayList{"a\r", "\nb"} << QStringLiteral("a\nb");
    QTest::newRow("CR then text in the next append")
        << QByteArrayList{"a\r", "b"} << QStringLiteral("a\nb");
    QTest::newRow("LF CR is two breaks") << QByteArrayList{"a\n\rb"} << QStringLiteral("a\n\nb");
    QTest::newRow("CR CR LF") << QByteArrayList{"a\r\r\nb"} << QStringLiteral("a\n\nb");
    QTest::newRow("single keystrokes") << QByteArrayList{"s", "h", "\r"} << QStringLiteral("sh\n");
    QTest::newRow("control bytes left out, TAB kept")
        << QByteArrayList{QByteArray("a\x00\x07\x1b[0mb\tc\x7f", 11)} << QStringLiteral("a[0mb\tc");
    QTest::newRow("high bytes as Latin-1")
        << QByteArrayList{"caf\xe9 \xb0"} << QString::fromLatin1("caf\xe9 \xb0");
    QTest::newRow("an endless line is shown broken")
        << QByteArrayList{QByteArray(10000, 'x')}
        << QString(4096, 'x') + '\n' + QString(4096, 'x') + '\n' + QString(1808, 'x');
    QTest::newRow("broken across appends, counted afresh after a line end")
        << QByteArrayList{QByteArray(4095, 'x'), "y\r\n" + QByteArray(4096, 'z'), "!"}
        << QString(4095, 'x') + "y\n" + QString(4096, 'z') + "\n!";
    QTest::newRow("telnet greeting bytes")
        << QByteArrayList{"\xff\xfd\x03"} << QString::fromLatin1("\xff\xfd");
}

void tst_View::textBox_showsLineBreaks()
{
    QFETCH(QByteArrayList, appends);
    QFETCH(QString, shown);
    Rig rig;
    rig.form.TXT_Input.setVisible(true);
    for (const QByteArray &bytes : appends) {
        rig.form.TXT_Input.append(bytes.toStdString());
        nextPass();
    }
    QCOMPARE(rig.find<ui::TextPanel>("TXT_Input")->toPlainText(), shown);
}

void tst_View::setText_replacesShownText()
{
    Rig rig;
    auto *edit = rig.find<ui::TextPanel>("TXT_OutPut");
    rig.form.TXT_OutPut.append("more\r");
    nextPass();
    QCOMPARE(edit->toPlainText(), QStringLiteral("Text1\nmore\n"));

    // Same length, other bytes: still a new text, and no CR carried over.
    rig.form.TXT_OutPut.setText("\nabcdefghij");
    nextPass();
    QCOMPARE(edit->toPlainText(), QStringLiteral("\nabcdefghij"));

    rig.form.TXT_OutPut.setText("x");
    rig.form.TXT_OutPut.append("y\r\n");
    nextPass();
    QCOMPARE(edit->toPlainText(), QStringLiteral("xy\n"));

    rig.form.TXT_OutPut.setText("");
    nextPass();
    QVERIFY(edit->toPlainText().isEmpty());
}

void tst_View::floodedPanel_showsDropLineFirst()
{
    Rig rig;
    rig.form.TXT_Input.setVisible(true);
    rig.showAndWait();
    auto *panel = rig.find<ui::TextPanel>("TXT_Input");
    const std::string line(1000, 'k');
    for (std::size_t sent = 0; sent < 2 * ui::TextBoxTail; sent += line.size() + 2) {
        rig.form.TXT_Input.append(line);
        rig.form.TXT_Input.append("\r\n");
        if (sent % (1 << 20) < line.size())
            nextPass();   // the panel follows the drops as they happen
    }
    nextPass();
    const QString shown = panel->toPlainText();
    QVERIFY(shown.startsWith(QStringLiteral("[older text dropped]\n") + QString(1000, 'k') + '\n'));
    QVERIFY(shown.endsWith(QString(1000, 'k') + '\n'));
    QCOMPARE(panel->shownBytes(), rig.form.TXT_Input.text().size());
    QCOMPARE(panel->verticalScrollBar()->value(), panel->verticalScrollBar()->maximum());

    // Selection and copy take the shown characters.
    panel->selectAll();
    QCOMPARE(panel->selectedText(), shown);
}

// The operator selects with the mouse and the keyboard and copies; appends
// that arrive meanwhile leave the selection where it was.
void tst_View::textPanel_selectAndCopy()
{
    Rig rig;
    rig.form.setHeight(ui::ExpandedHeight);
    rig.form.TXT_OutPut.setText("Router>\r\nshow\trun\r\nend");
    rig.showAndWait();
    nextPass();
    auto *panel = rig.find<ui::TextPanel>("TXT_OutPut");
    QWidget *area = panel->viewport();
    const QFontMetrics metrics(panel->font());
    const int width = metrics.horizontalAdvance(QLatin1Char('x'));
    const int height = metrics.lineSpacing();
    const auto at = [&](int column, int line) {
        return QPoint(4 + column * width + 1, 4 + line * height + height / 2);
    };

    QTest::mousePress(area, Qt::LeftButton, {}, at(1, 0));
    QMouseEvent drag(QEvent::MouseMove, at(4, 1), area->mapToGlobal(at(4, 1)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &drag);
    QTest::mouseRelease(area, Qt::LeftButton, {}, at(4, 1));
    QCOMPARE(panel->selectedText(), QStringLiteral("outer>\nshow"));

    rig.form.TXT_OutPut.append("\r\nmore");
    nextPass();
    QTest::keyClick(panel, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(panel->selectedText(), QStringLiteral("outer>\nshow\t"));
    QGuiApplication::clipboard()->clear();
    QTest::keySequence(panel, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("outer>\nshow\t"));

    // A double click takes the word; the columns after the TAB count from its stop.
    QTest::mouseDClick(area, Qt::LeftButton, {}, at(9, 1));
    QCOMPARE(panel->selectedText(), QStringLiteral("run"));
}

void tst_View::hiddenTextBox_catchesUpWhenShown()
{
    Rig rig;
    auto *output = rig.find<ui::TextPanel>("TXT_OutPut");
    rig.form.TXT_OutPut.setVisible(false);
    rig.form.TXT_OutPut.setText("");
    nextPass();
    QString expected;
    for (int i = 0; i < 1000; ++i) {
        rig.form.TXT_OutPut.append("line\r\n");
        expected += QStringLiteral("line\n");
        if (i % 100 == 0)
            nextPass();
    }
    nextPass();
    QCOMPARE(output->shownBytes(), std::size_t(7));   // "Text1\r\n": not pushed while hidden

    rig.form.TXT_OutPut.setVisible(true);
    nextPass();
    QCOMPARE(output->toPlainText(), expected);

    // TXT_Input starts hidden with text arriving before it is first shown.
    rig.form.TXT_Input.append("show run\r\n");
    nextPass();
    rig.form.TXT_Input.setVisible(true);
    nextPass();
    QCOMPARE(rig.find<ui::TextPanel>("TXT_Input")->toPlainText(), QStringLiteral("show run\n"));
}

void tst_View::inputPanel_coversOutputPanel()
{
    Rig rig;
    rig.form.setHeight(ui::ExpandedHeight);
    rig.form.TXT_Input.setVisible(true);
    nextPass();
    auto *output = rig.find<ui::TextPanel>("TXT_OutPut");
    auto *input = rig.find<ui::TextPanel>("TXT_Input");
    QCOMPARE(input->geometry(), output->geometry());
    QWidget *top = rig.window()->childAt(output->geometry().center());
    QVERIFY(top && (top == input || input->isAncestorOf(top)));
}

// During the port alarm the title and the program name are both shown in the
// same place: the title's band hides the name behind it, pixel for pixel.
void tst_View::alarmTitle_readableOverProgramName()
{
    Rig rig;
    rig.form.LBL_titre.setVisible(true);
    rig.form.LBL_titre.setCaption("Error : Port Not Open.");
    rig.showAndWait();
    nextPass();
    auto *title = rig.find<QLabel>("LBL_titre");
    auto *picture = rig.find<QWidget>("FRM_Vert");
    const QRect area = title->geometry();
    QVERIFY(rig.find<QLabel>("LBL_ProgName")->isVisible());
    const QImage withName = picture->grab(area).toImage();
    rig.form.LBL_ProgName.setVisible(false);
    nextPass();
    QCOMPARE(picture->grab(area).toImage(), withName);
    QVERIFY(title->palette().color(QPalette::Window) != title->palette().color(QPalette::WindowText));

    // No title, no band: the name shows through as before.
    rig.form.LBL_titre.setCaption("");
    nextPass();
    QVERIFY(!title->autoFillBackground());
}

void tst_View::window_fixedWithoutMaximizeButton()
{
    Rig rig;
    rig.form.setTopmost();
    nextPass();
    const Qt::WindowFlags flags = rig.window()->windowFlags();
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
}

void tst_View::clicks_reachOnlyTheirElement_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("lowerLeft");   // else the centre
    QTest::addColumn<QString>("handler");  // empty: no handler runs
    QTest::newRow("Picture1") << "Picture1" << false << "Picture1";
    QTest::newRow("FRM_Vert, beside the labels") << "FRM_Vert" << true << "FRM_Vert";
    QTest::newRow("LBL_ProgName") << "LBL_ProgName" << true << "LBL_ProgName";
    QTest::newRow("LBL_titre") << "LBL_titre" << false << "LBL_titre";
    QTest::newRow("a lamp on FRM_Vert") << "FRM_On" << false << "";
    QTest::newRow("a traffic lamp") << "FRM_Yellow" << false << "";
    QTest::newRow("a settings label") << "LBL_Port" << false << "";
    QTest::newRow("the help hint") << "Label3" << false << "";
    QTest::newRow("a text box") << "TXT_OutPut" << false << "";
    QTest::newRow("Exit") << "CMD_Quitter" << false << "CMD_Quitter";
    QTest::newRow("Original Config") << "CMD_OriginalConfig" << false << "CMD_OriginalConfig";
    QTest::newRow("Show Responses") << "CMD_Answers" << false << "CMD_Answers";
    QTest::newRow("disabled Receiv.Commands") << "CMD_ReceivedCommands" << false << "";
}

void tst_View::clicks_reachOnlyTheirElement()
{
    QFETCH(QString, target);
    QFETCH(bool, lowerLeft);
    QFETCH(QString, handler);
    Rig rig;
    QStringList clicked;
    auto record = [&clicked](const char *name) { return [&clicked, name] { clicked << name; }; };
    rig.form.Picture1.onClick = record("Picture1");
    rig.form.FRM_Vert.onClick = record("FRM_Vert");
    rig.form.LBL_ProgName.onClick = record("LBL_ProgName");
    rig.form.LBL_titre.onClick = record("LBL_titre");
    rig.form.CMD_Quitter.onClick = record("CMD_Quitter");
    rig.form.CMD_ReceivedCommands.onClick = record("CMD_ReceivedCommands");
    rig.form.CMD_OriginalConfig.onClick = record("CMD_OriginalConfig");
    rig.form.CMD_Answers.onClick = record("CMD_Answers");
    rig.form.CMD_OriginalConfig.setEnabled(true);
    rig.form.CMD_Answers.setEnabled(true);
    rig.form.setTrafficLampsVisible(true);
    rig.form.setHeight(ui::ExpandedHeight);
    rig.showAndWait();

    QWidget *widget = rig.window()->findChild<QWidget *>(target);
    QVERIFY(widget && widget->isVisible());
    const QPoint at = lowerLeft ? QPoint(10, widget->height() - 4) : widget->rect().center();
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QCOMPARE(clicked, handler.isEmpty() ? QStringList() : QStringList{handler});
}

void tst_View::click_onButtonDisabledInModel_isIgnored()
{
    // The handlers disable a button and yield; a click already queued for the
    // not yet updated widget must not run it.
    Rig rig;
    int clicks = 0;
    rig.form.CMD_Answers.onClick = [&clicks] { ++clicks; };
    rig.form.CMD_Answers.setEnabled(true);
    rig.form.setHeight(ui::ExpandedHeight);
    rig.showAndWait();
    auto *button = rig.find<QPushButton>("CMD_Answers");
    rig.form.CMD_Answers.setEnabled(false);
    QVERIFY(button->isEnabled());
    button->click();
    QCOMPARE(clicks, 0);
}

void tst_View::accessKeys_pressButtons_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("button");
    QTest::newRow("Alt+E") << int(Qt::Key_E) << "CMD_Quitter";
    QTest::newRow("Alt+R") << int(Qt::Key_R) << "CMD_ReceivedCommands";
    QTest::newRow("Alt+O") << int(Qt::Key_O) << "CMD_OriginalConfig";
    QTest::newRow("Alt+S") << int(Qt::Key_S) << "CMD_Answers";
}

void tst_View::accessKeys_pressButtons()
{
    QFETCH(int, key);
    QFETCH(QString, button);
    Rig rig;
    QStringList clicked;
    for (ui::Button *each : {&rig.form.CMD_Quitter, &rig.form.CMD_ReceivedCommands,
                                   &rig.form.CMD_OriginalConfig, &rig.form.CMD_Answers}) {
        each->setEnabled(true);
        each->onClick = [&clicked, each] { clicked << QString::fromStdString(each->name()); };
    }
    rig.showAndWait();   // compact: the buttons are out of view and still answer their keys
    QVERIFY(QTest::qWaitForWindowActive(rig.window()));
    QTest::keyClick(rig.window(), Qt::Key(key), Qt::AltModifier);
    QTRY_COMPARE(clicked, QStringList{button});   // the button shows itself pressed first
}

void tst_View::focusOrder_followsModel()
{
    Rig rig;
    QStringList expected;
    for (const ui::Element *element : rig.form.focusOrder())
        expected << QString::fromStdString(element->name());
    rig.form.CMD_ReceivedCommands.setEnabled(true);
    rig.form.CMD_OriginalConfig.setEnabled(true);
    rig.form.CMD_Answers.setEnabled(true);
    rig.form.TXT_Input.setVisible(true);
    rig.showAndWait();
    QVERIFY(QTest::qWaitForWindowActive(rig.window()));
    QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());

    QStringList visited;
    for (int i = 0; i < expected.size(); ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, expected);
}

void tst_View::clientHeight_followsModelHeight()
{
    Rig rig;
    const int width = px(5550);
    QCOMPARE(rig.window()->size(), QSize(width, px(1635 - 375)));
    rig.form.setHeight(ui::ExpandedHeight);
    nextPass();
    QCOMPARE(rig.window()->size(), QSize(width, px(3400 - 375)));
    QCOMPARE(rig.window()->minimumSize(), rig.window()->maximumSize());
    rig.form.setHeight(ui::CompactHeight);
    nextPass();
    QCOMPARE(rig.window()->size(), QSize(width, px(1635 - 375)));
    // The buttons lie below the compact client area, out of view but enabled as the model says.
    QVERIFY(rig.find<QPushButton>("CMD_Quitter")->y() >= rig.window()->height());
}

void tst_View::position_absurdValuesStayPlaceable_data()
{
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("top");
    QTest::newRow("on screen") << 600.0f << 450.0f;
    QTest::newRow("huge") << 1e30f << 3e38f;
    QTest::newRow("hugely negative") << -1e30f << -3e38f;
    QTest::newRow("infinite") << float(INFINITY) << float(-INFINITY);
    QTest::newRow("not a number") << float(NAN) << float(NAN);
}

void tst_View::position_absurdValuesStayPlaceable()
{
    QFETCH(float, left);
    QFETCH(float, top);
    Rig rig;
    rig.form.setLeft(left);
    rig.form.setTop(top);
    rig.showAndWait();
    const QPoint at = rig.window()->pos();
    QVERIFY(std::abs(at.x()) <= 16000 && std::abs(at.y()) <= 16000);
    if (std::abs(left) < 1e6f)
        QCOMPARE(at, QPoint(px(left), px(top)));
    else if (!std::isnan(left))
        QVERIFY((at.x() > 0) == (left > 0) && (at.y() > 0) == (top > 0));
    // The window system's answer to an absurd position is not the operator's move.
    if (!std::isnan(left)) {
        QCOMPARE(rig.form.left(), left);
        QCOMPARE(rig.form.top(), top);
    }
}

void tst_View::position_operatorMoveWrittenBack()
{
    Rig rig;
    rig.form.setLeft(600);
    rig.form.setTop(450);
    rig.showAndWait();
    rig.window()->move(rig.window()->pos() + QPoint(20, 10));
    const double twipsPerPixel = 1440 / QGuiApplication::primaryScreen()->logicalDotsPerInch();
    QTRY_COMPARE(rig.form.left(), float(rig.window()->x() * twipsPerPixel));
    QCOMPARE(rig.form.top(), float(rig.window()->y() * twipsPerPixel));

    rig.window()->showMinimized();
    QTRY_VERIFY(rig.form.minimized());
    rig.window()->showNormal();
    QTRY_VERIFY(!rig.form.minimized());
}

void tst_View::timer_ticksOnlyWhileEnabled()
{
    Rig rig;
    int ticks = 0;
    rig.form.Timer1.onTick = [&ticks] { ++ticks; };
    rig.form.Timer1.setEnabled(true);
    QTest::qWait(100);
    QCOMPARE(ticks, 0);   // enabled without an interval: no tick

    rig.form.Timer1.setInterval(10);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 10000);
    rig.form.Timer1.setEnabled(false);
    const int seen = ticks;
    QTest::qWait(150);
    QCOMPARE(ticks, seen);
}

void tst_View::close_hidesWindowAndUnloadsOnce_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Window::close (Exit, a refused copy)") << false;
    QTest::newRow("the close box") << true;
}

void tst_View::close_hidesWindowAndUnloadsOnce()
{
    QFETCH(bool, closeBox);
    Rig rig;
    int unloads = 0;
    rig.form.onUnload = [&unloads] { ++unloads; };
    rig.form.Timer1.setInterval(10);
    rig.form.Timer1.setEnabled(true);
    rig.showAndWait();
    if (closeBox)
        rig.window()->close();
    else
        rig.form.close();
    QVERIFY(rig.form.unloaded());
    QVERIFY(!rig.window()->isVisible());
    QCOMPARE(unloads, 1);

    rig.window()->close();
    rig.form.close();
    QCOMPARE(unloads, 1);

    int ticks = 0;
    rig.form.Timer1.onTick = [&ticks] { ++ticks; };
    QTest::qWait(100);
    QCOMPARE(ticks, 0);   // an unloaded window's timer is gone
}

void tst_View::refusedCopy_topmostWindowNeverShown()
{
    // What start-up does to a second copy: topmost, a message box (a pass of
    // the loop), then the unload.
    Rig rig;
    rig.form.setTopmost();
    nextPass();
    QVERIFY(rig.window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!rig.window()->isVisible());
    rig.form.close();
    rig.view.show();
    QVERIFY(!rig.window()->isVisible());
}

void tst_View::f1_showsGuideWithoutHelpFile()
{
    tests::ScratchDir dir;
    Rig rig;
    rig.form.setHelpFile("Zentrel.chm");
    rig.showAndWait();
    QVERIFY(QTest::qWaitForWindowActive(rig.window()));
    QTest::keyClick(rig.window(), Qt::Key_F1);
    auto *guide = rig.find<QTextBrowser>("ZentrelHelp");
    QVERIFY(guide);
    QTRY_VERIFY(guide->isVisible());
    QVERIFY(guide->toPlainText().contains(QStringLiteral("telnet localhost 1101")));
    QVERIFY(guide->toPlainText().contains(QStringLiteral("RESPONSE.TXT")));
    rig.form.close();
    QVERIFY(!guide->isVisible());
}

void tst_View::helpFile_foundByBareNameOnly_data()
{
    QTest::addColumn<QString>("onDisk");
    QTest::addColumn<QString>("registered");
    QTest::addColumn<bool>("found");
    QTest::newRow("same name") << "Zentrel.chm" << "Zentrel.chm" << true;
    QTest::newRow("other case") << "zentrel.CHM" << "Zentrel.chm" << true;
    QTest::newRow("missing") << "Other.chm" << "Zentrel.chm" << false;
    QTest::newRow("nothing registered") << "Zentrel.chm" << "" << false;
    QTest::newRow("a path is cut to its name") << "Zentrel.chm" << "/etc/../Zentrel.chm" << true;
    QTest::newRow("outside the directory") << "sub/Zentrel.chm" << "sub/Zentrel.chm" << false;
}

void tst_View::helpFile_foundByBareNameOnly()
{
    QFETCH(QString, onDisk);
    QFETCH(QString, registered);
    QFETCH(bool, found);
    tests::ScratchDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("sub"));
    dir.write(onDisk, "help");
    const QString path = ui::findHelpFile(registered.toStdString());
    QCOMPARE(!path.isEmpty(), found);
    if (found)
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
}

QTEST_MAIN(tst_View)
#include "tst_view.moc"
