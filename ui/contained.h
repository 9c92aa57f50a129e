// contained.h: binds a click or tick so that no failure of it reaches the event loop.
#pragma once
#include <cstdio>
#include <exception>
#include <functional>
#include <utility>

namespace zentrel::ui {

// Each handler closes its own files and leaves its buttons usable; whatever
// still escapes it ends here and is reported on stderr, as the window has no
// place for it.
template <typename Handler>
std::function<void()> contained(Handler handler)
{
    return [handler = std::move(handler)]() noexcept {
        try {
            handler();
        } catch (const std::exception &error) {
            std::fprintf(stderr, "zentrel: a command failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "zentrel: a command failed for an unknown reason\n");
        }
    };
}

} // namespace zentrel::ui
