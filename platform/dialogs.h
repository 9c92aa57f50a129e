// dialogs.h: modal message boxes that wait for the operator.
#pragma once
#include <string>

namespace zentrel::platform {

class Dialogs
{
public:
    enum class Icon { Critical, Question, Exclamation, Information };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    // Texts are bytes, as everywhere in Zentrel; returns the button pressed.
    virtual Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                              Buttons buttons) = 0;
};

} // namespace zentrel::platform
