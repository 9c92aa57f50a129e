// qt_view_text_accessible.h: what a screen reader is told of a text panel's content.
#pragma once

namespace zentrel::ui {

// Lets the accessibility layer read text panels as read-only multi-line text;
// installed once, by the first panel.
void installAccessiblePanels();

} // namespace zentrel::ui
