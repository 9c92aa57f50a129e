// alarm.h: the port-error alarm, a blinking status line and alarm lamp.
#pragma once
#include "ui/window_model.h"

namespace zentrel::ui {

// Runs while Timer1 is enabled; start-up enables it when the listening port
// cannot be opened, and nothing stops it before the window unloads.
class Alarm
{
public:
    explicit Alarm(ZentrelFRM &form);

    // Binds the tick of Timer1.
    void wire();

    // One tick: the title and the alarm lamp change phase together, the title
    // shown with the lamp red, hidden with the lamp black.
    void onTick();

private:
    ZentrelFRM &m_form;
};

} // namespace zentrel::ui
