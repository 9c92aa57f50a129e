// contained.h: binds a click or tick so that no failure of it reaches the event loop.
#pragma once
#include <functional>
#include <utility>

namespace zentrel::ui {

// Each handler closes its own files and leaves its buttons usable; whatever
// still escapes it ends here, as the operator sees nothing but the window.
template <typename Handler>
std::function<void()> contained(Handler handler)
{
    return [handler = std::move(handler)]() noexcept {
        try {
            handler();
        } catch (...) {
        }
    };
}

} // namespace zentrel::ui
