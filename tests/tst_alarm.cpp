// tst_alarm.cpp: the port-error alarm blinking the status line and the alarm lamp.
#include "ui/alarm.h"
#include "ui/panel_commands.h"
#include "platform/qt/qt_platform.h"
#include "ui/qt/qt_view.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

#include <QTest>

using namespace zentrel;

namespace {

const std::string PortError = "Error : Port Not Open.";

// The window as start-up leaves it when the listening port cannot be opened.
void startAlarm(ui::ZentrelFRM &form)
{
    form.LBL_titre.setVisible(true);
    form.Timer1.setEnabled(true);
    form.Timer1.setInterval(300);
    form.LBL_titre.setCaption(PortError);
}

struct Rig {
    platform::QtPlatform qt;
    ui::ZentrelFRM form;
    ui::Shared shared;
    ui::Alarm alarm{form};
    ui::PanelCommands commands{form, qt.platform(), shared};

    Rig()
    {
        alarm.wire();
        commands.wire();
        startAlarm(form);
    }
};

} // namespace

class tst_Alarm : public QObject
{
    Q_OBJECT
private slots:
    void tick_alternatesTitleAndLamp();
    void tick_keepsBlinkingThroughClicks();
    void timer_ticksInTheRealView();
};

// The first tick hides the title and blackens the lamp, the second brings
// both back, red; the lamp never returns to green and the caption stays.
void tst_Alarm::tick_alternatesTitleAndLamp()
{
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    QCOMPARE(form.FRM_On.backColour(), ui::Green);

    for (int tick = 1; tick <= 40; ++tick) {
        form.Timer1.onTick();
        const bool shown = tick % 2 == 0;
        QCOMPARE(form.LBL_titre.visible(), shown);
        QCOMPARE(form.FRM_On.backColour(), shown ? ui::Red : ui::Black);
        QCOMPARE(form.LBL_titre.caption(), PortError);
        QVERIFY(form.Timer1.enabled());
    }
}

// Toggle clicks, however many, leave the window compact; a title click hides
// the title for one phase only; a new caption is what blinks from then on.
void tst_Alarm::tick_keepsBlinkingThroughClicks()
{
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    form.TXT_OutPut.setText("kept\r\n");

    for (int tick = 1; tick <= 20; ++tick) {
        for (int i = 0; i < 25; ++i) {
            form.Picture1.onClick();
            form.FRM_Vert.onClick();
            form.LBL_ProgName.onClick();
        }
        form.Timer1.onTick();
    }
    QCOMPARE(form.height(), ui::CompactHeight);
    QCOMPARE(form.TXT_OutPut.text(), std::string("kept\r\n"));
    QCOMPARE(form.LBL_titre.caption(), PortError);
    QVERIFY(form.LBL_titre.visible());   // 20 ticks: back in the shown phase

    form.LBL_titre.onClick();
    QVERIFY(!form.LBL_titre.visible());
    QVERIFY(form.LBL_ProgName.visible());
    form.Timer1.onTick();
    QVERIFY(form.LBL_titre.visible());
    QCOMPARE(form.FRM_On.backColour(), ui::Red);
    QCOMPARE(form.LBL_titre.caption(), PortError);

    form.LBL_titre.setCaption("Received Commands");
    form.Timer1.onTick();
    form.Timer1.onTick();
    QVERIFY(form.LBL_titre.visible());
    QCOMPARE(form.LBL_titre.caption(), std::string("Received Commands"));
    QVERIFY(form.Timer1.enabled());
}

// With the real view behind the window, Timer1 ticks by itself: no tick comes
// before the event loop runs, then the phases follow one another.
void tst_Alarm::timer_ticksInTheRealView()
{
    Rig rig;
    ui::ZentrelFRM &form = rig.form;
    ui::QtView view(form);
    view.show();
    QCOMPARE(form.FRM_On.backColour(), ui::Green);

    // Polled between ticks: a phase missed on a busy machine shows as no
    // change or as a regular one, never as a wrong order.
    int changes = 0;
    bool wrong = false;
    ui::Colour last = form.FRM_On.backColour();
    auto observe = [&] {
        const ui::Colour now = form.FRM_On.backColour();
        if (form.LBL_titre.visible() != (now != ui::Black))
            wrong = true;
        if (now != last) {
            if (now == ui::Green || (now == ui::Red) != (last == ui::Black))
                wrong = true;
            last = now;
            ++changes;
        }
        return changes;
    };
    QTRY_VERIFY_WITH_TIMEOUT(observe() >= 4 || wrong, 20000);
    QVERIFY(!wrong);
    QVERIFY(form.Timer1.enabled());
    QCOMPARE(form.LBL_titre.caption(), PortError);
}

QTEST_MAIN(tst_Alarm)
#include "tst_alarm.moc"
