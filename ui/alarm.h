// alarm.h: the port-error alarm, a blinking status line and alarm lamp.
#pragma once
#include "ui/window_model.h"

namespace zentrel::ui {

class Alarm
{
public:
    explicit Alarm(ZentrelFRM &form);

    // Binds the tick of Timer1.
    void wire();

private:
    ZentrelFRM &m_form;
};

} // namespace zentrel::ui
