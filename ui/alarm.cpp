// alarm.cpp: the tick of Timer1 that blinks the status line and the alarm lamp.
#include "ui/alarm.h"

namespace zentrel::ui {

Alarm::Alarm(ZentrelFRM &form) : m_form(form) {}

void Alarm::wire()
{
    m_form.Timer1.onTick = [this] { onTick(); };
}

// The title's visibility is the blink phase; its caption is never touched,
// so whatever a command last put there is what blinks.
void Alarm::onTick()
{
    if (m_form.LBL_titre.visible()) {
        m_form.LBL_titre.setVisible(false);
        m_form.FRM_On.setBackColour(Black);
    } else {
        m_form.LBL_titre.setVisible(true);
        m_form.FRM_On.setBackColour(Red);
    }
}

} // namespace zentrel::ui
