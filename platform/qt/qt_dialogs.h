// qt_dialogs.h: modal message boxes that wait for the operator, on Qt widgets.
#pragma once
#include "platform/dialogs.h"

namespace zentrel::platform {

// The box is application-modal; its texts are bytes shown as Latin-1. Closing
// a Yes/No box without choosing (Escape, the close box) answers No.
class QtDialogs : public Dialogs
{
public:
    Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                      Buttons buttons) override;
};

} // namespace zentrel::platform
