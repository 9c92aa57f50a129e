// preview.cpp: placeholder until the preview lands.
#include "ui/preview.h"

namespace zentrel::ui {

Preview::Preview(ZentrelFRM &form, platform::Platform &platform, console::Shared &shared,
                 console::Listener &listener)
    : m_form(form), m_platform(platform), m_shared(shared), m_listener(listener)
{
}

void Preview::wire() {}

} // namespace zentrel::ui
