// listener.cpp: placeholder until the connection lifecycle lands.
#include "console/listener.h"

namespace zentrel::console {

Listener::Listener(ui::ZentrelFRM &form, platform::Platform &platform, Shared &shared)
    : m_form(form), m_platform(platform), m_shared(shared)
{
}

void Listener::wire() {}
void Listener::serveWaiting() {}
void Listener::onConnectionRequest(int, std::int32_t) {}
void Listener::onDataArrival(int, long) {}
void Listener::onClose(int) {}

} // namespace zentrel::console
