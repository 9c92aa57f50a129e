// qt_dialogs.h: modal message boxes that wait for the operator, on Qt widgets.
#pragma once
#include "platform/dialogs.h"

namespace zentrel::platform {

// The box is application-modal; its texts are bytes shown as Latin-1. Closing
// a Yes/No box without choosing (Escape, the close box) answers No.
//
// Where Qt has no screen to show it on (its offscreen and minimal platforms)
// nobody could ever answer: the title and text go to stderr and the safe
// answer is taken at once, No to a question and OK to a warning.
class QtDialogs : public Dialogs
{
public:
    enum class Presentation {
        Automatic,   // a box where there is a screen, stderr where there is none
        Box,         // always a box (a test that plays the operator)
    };

    explicit QtDialogs(Presentation presentation = Presentation::Automatic)
        : m_presentation(presentation)
    {
    }

    Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                      Buttons buttons) override;

    // True on a platform where no one can see a box.
    static bool screenless();

private:
    Presentation m_presentation;
};

} // namespace zentrel::platform
