// qt_view_accessible.cpp: what a screen reader says about the window's buttons, text panels and lamps.
#include "ui/qt/qt_view_accessible.h"

#include "ui/window_model.h"

#include <QColor>

#include <string_view>

namespace zentrel::ui {

namespace {

struct Entry {
    std::string_view element;
    const char *name;
    const char *description;   // null for a lamp: its description follows its state
};

constexpr Entry Entries[] = {
    {"ZentrelFRM", "Zentrel",
     "Router console emulator. The lamps show the connection; the lower panel holds the "
     "settings, a text panel and the buttons."},
    {"Picture1", "Router picture", "Click to open or close the lower panel."},
    {"FRM_Vert", "Status band",
     "The program name or the panel's title, and the lamps. Click to open or close the lower "
     "panel."},
    {"FRM_On", "Alarm lamp", nullptr},
    {"FRM_Winsock", "Connection lamp", nullptr},
    {"FRM_Yellow", "Traffic lamp, top", nullptr},
    {"FRM_Red", "Traffic lamp, middle", nullptr},
    {"frm_green", "Traffic lamp, bottom", nullptr},
    {"FRM_Infos", "Settings in use",
     "The pause before each item, whether a response script was found, and the TCP port."},
    {"TXT_OutPut", "Output panel",
     "The router configuration, or the response items as they are played."},
    {"TXT_Input", "Received commands", "What the last client typed, one command a line."},
    {"CMD_Quitter", "Exit", "Ends Zentrel and saves the window position."},
    {"CMD_ReceivedCommands", "Received Commands", "Shows what the last client typed."},
    {"CMD_OriginalConfig", "Original Config", "Shows the router configuration, ROUTER.CFG."},
    {"CMD_Answers", "Show Responses",
     "Plays the response script into the output panel at the configured pace, without a "
     "client."},
};

const Entry *find(std::string_view element)
{
    for (const Entry &entry : Entries)
        if (entry.element == element)
            return &entry;
    return nullptr;
}

QString colourName(Colour colour)
{
    return QColor(int(colour & 0xffu), int((colour >> 8) & 0xffu), int((colour >> 16) & 0xffu))
        .name();
}

} // namespace

AccessibleText accessibleText(const Element &element)
{
    const Entry *entry = find(element.name());
    if (!entry)
        return {};
    return {QString::fromLatin1(entry->name),
            entry->description ? QString::fromLatin1(entry->description) : QString()};
}

QString lampDescription(const Lamp &lamp)
{
    const std::string_view name = lamp.name();
    const Colour colour = lamp.backColour();
    if (name == "FRM_Winsock") {
        if (colour == Green)
            return QStringLiteral("Green: waiting for a client.");
        if (colour == Yellow)
            return QStringLiteral("Yellow: a client is connected.");
    } else if (name == "FRM_On") {
        if (colour == Green)
            return QStringLiteral("Green: normal, the listening port is open.");
        // The alarm blinks between the two: one meaning for both.
        if (colour == Red || colour == Black)
            return QStringLiteral("Blinking red and black: the listening port is not open.");
    } else if (name == "FRM_Yellow" || name == "FRM_Red" || name == "frm_green") {
        return lamp.visible() ? QStringLiteral("Blinking: items are being played.")
                              : QStringLiteral("Off: nothing is being played.");
    }
    return QStringLiteral("Colour %1.").arg(colourName(colour));
}

} // namespace zentrel::ui
