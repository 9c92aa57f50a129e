// tst_view_accessibility.cpp: what a screen reader hears of the window's buttons, panels and lamps.
#include "ui/qt/qt_view.h"
#include "ui/window_model.h"

#include <QAccessible>
#include <QSet>
#include <QTest>
#include <QWidget>

using namespace zentrel;

namespace {

struct Rig {
    ui::ZentrelFRM form;
    ui::QtView view{form};

    QWidget *widget(const ui::Element &element) const
    {
        return view.widget()->findChild<QWidget *>(QString::fromStdString(element.name()));
    }
};

// What the accessibility layer hands a screen reader, not just the widget's property.
QString spoken(QWidget *widget, QAccessible::Text what)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(what) : QString();
}

} // namespace

class tst_ViewAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void controlsAndLamps_haveNameAndDescription();
    void lampDescription_followsState_data();
    void lampDescription_followsState();
    void textPanel_readsItsLines();
};

void tst_ViewAccessibility::controlsAndLamps_haveNameAndDescription()
{
    Rig rig;
    QSet<QString> names;
    int checked = 0;
    for (const ui::Element *element : rig.form.elements()) {
        const ui::Kind kind = element->kind();
        if (kind != ui::Kind::Button && kind != ui::Kind::TextBox
            && kind != ui::Kind::Lamp && kind != ui::Kind::PictureBox)
            continue;
        const QString label = QString::fromStdString(element->name());
        QWidget *widget = rig.widget(*element);
        QVERIFY2(widget, qPrintable(label));
        const QString name = spoken(widget, QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(label));
        QVERIFY2(!name.contains('&'), qPrintable(name));   // no access-key marker read aloud
        QVERIFY2(!spoken(widget, QAccessible::Description).isEmpty(), qPrintable(label));
        QVERIFY2(!names.contains(name), qPrintable("two elements called " + name));
        names.insert(name);
        ++checked;
    }
    QCOMPARE(checked, 13);   // four buttons, two text panels, five lamps, two pictures
    QVERIFY(!spoken(rig.view.widget(), QAccessible::Description).isEmpty());
}

void tst_ViewAccessibility::lampDescription_followsState_data()
{
    QTest::addColumn<QString>("lamp");
    QTest::addColumn<uint>("colour");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("meaning");

    QTest::newRow("connection idle") << "FRM_Winsock" << uint(ui::Green) << true
                                     << "waiting for a client";
    QTest::newRow("connection busy") << "FRM_Winsock" << uint(ui::Yellow) << true
                                     << "a client is connected";
    QTest::newRow("alarm normal") << "FRM_On" << uint(ui::Green) << true << "normal";
    QTest::newRow("alarm red") << "FRM_On" << uint(ui::Red) << true << "port is not open";
    QTest::newRow("alarm black") << "FRM_On" << uint(ui::Black) << true << "port is not open";
    QTest::newRow("traffic shown") << "FRM_Red" << uint(ui::rgb(192, 255, 192)) << true
                                   << "items are being played";
    QTest::newRow("traffic hidden") << "frm_green" << uint(ui::rgb(128, 255, 128)) << false
                                    << "nothing is being played";
}

// Each state is reached from a different one, so the description must move with it.
void tst_ViewAccessibility::lampDescription_followsState()
{
    QFETCH(QString, lamp);
    QFETCH(uint, colour);
    QFETCH(bool, visible);
    QFETCH(QString, meaning);

    Rig rig;
    auto *element = static_cast<ui::Lamp *>(rig.form.find(lamp.toStdString()));
    QVERIFY(element);
    QWidget *widget = rig.widget(*element);
    element->setBackColour(colour == ui::Yellow ? ui::Green : ui::Yellow);
    element->setVisible(!visible);
    QCoreApplication::processEvents();
    QVERIFY(!spoken(widget, QAccessible::Description).contains(meaning));

    element->setBackColour(colour);
    element->setVisible(visible);
    QCoreApplication::processEvents();
    const QString description = spoken(widget, QAccessible::Description);
    QVERIFY2(description.contains(meaning), qPrintable(description));
}

// The panels are drawn by Zentrel itself: the reader must still get their text.
void tst_ViewAccessibility::textPanel_readsItsLines()
{
    Rig rig;
    rig.form.TXT_OutPut.setText("Router>\r\nshow run\r\n");
    QCoreApplication::processEvents();
    QWidget *widget = rig.widget(rig.form.TXT_OutPut);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QVERIFY(accessible->state().readOnly);
    QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("Router>\nshow run\n"));
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Output panel"));
}

QTEST_MAIN(tst_ViewAccessibility)
#include "tst_view_accessibility.moc"
