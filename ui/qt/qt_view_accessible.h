// qt_view_accessible.h: what a screen reader says about the window's buttons, text panels and lamps.
#pragma once
#include "ui/window.h"

#include <QString>

namespace zentrel::ui {

// An element's accessible name, and its description when that never changes
// (a lamp's follows its state: lampDescription). Both empty for elements a
// screen reader reads by their own text, the labels, and for the timer.
struct AccessibleText {
    QString name;
    QString description;
};
AccessibleText accessibleText(const Element &element);

// What the lamp's colour and visibility mean right now, in words.
QString lampDescription(const Lamp &lamp);

} // namespace zentrel::ui
