// quietly.h: runs a step whose failure must not keep the steps after it from running.
#pragma once

namespace zentrel::console {

// For the steps that end a connection: closing a socket or a file that fails
// must not keep the window from going back to idle.
template <typename Step>
void quietly(Step step) noexcept
{
    try {
        step();
    } catch (...) {
    }
}

} // namespace zentrel::console
