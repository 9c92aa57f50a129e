// shared.h: the values every handler of the window shares.
#pragma once
#include <cstdint>
#include <functional>

namespace zentrel::ui {

struct Shared {
    // Pause before each played or previewed item, in seconds; never negative
    // once start-up has read it. Read afresh before every item.
    double responseDelay = 0;
    // Set to 1 when the window unloads, never reset: every paced loop that
    // regains control stops.
    std::int16_t stopRequested = 0;
    // The element of Winsock1 that carries the latest connection.
    std::int32_t connectionIndex = 0;
    // True while a connection is served or the preview runs; the buttons
    // that would disturb them are disabled, and a click that slips through
    // anyway looks here.
    std::function<bool()> busy;
    // Start-up found another copy running and unloads this one: it never
    // read a window position, so its shutdown saves none.
    bool refusedCopy = false;
    // What start-up's probes decided for Original Config and Show Responses:
    // the end of a connection or a preview gives each button this back,
    // not simply enabled.
    bool configAvailable = true;
    bool responsesAvailable = true;
};

} // namespace zentrel::ui
