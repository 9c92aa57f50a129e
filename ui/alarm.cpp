// alarm.cpp: placeholder until the alarm lands.
#include "ui/alarm.h"

namespace zentrel::ui {

Alarm::Alarm(ZentrelFRM &form) : m_form(form) {}

void Alarm::wire() {}

} // namespace zentrel::ui
