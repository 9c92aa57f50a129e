// qt_view_text.h: a text box's bytes shown in a QPlainTextEdit, appends costing only what they add.
#pragma once
#include "platform/window.h"

#include <QString>

#include <cstdint>
#include <string_view>

class QPlainTextEdit;

namespace zentrel::platform {

// A line is laid out whole on every change, so an endless line would make
// each append cost more than the last; longer lines are shown broken.
inline constexpr int LongestShownLine = 4096;

// Where the shown text ends: a CR that an LF at the start of the next piece
// must not break again, and the length of the last shown line.
struct TextEnd {
    bool afterCr = false;
    int column = 0;
};

// Bytes as displayed characters, Latin-1: CR LF, a lone CR and a lone LF each
// become one line break, TAB stays, other control bytes are left out.
QString displayText(std::string_view bytes, TextEnd &end);

class TextPanel
{
public:
    explicit TextPanel(QPlainTextEdit *edit);

    // Brings the widget up to the text box's text: only the new bytes when the
    // text has grown since the last call, everything when it was replaced.
    // Appends leave the view scrolled to the end; a replaced text shows from the top.
    void show(const TextBox &box);

private:
    QPlainTextEdit *m_edit;
    bool m_valid = false;
    std::uint64_t m_generation = 0;
    std::size_t m_shownBytes = 0;
    TextEnd m_end;
};

} // namespace zentrel::platform
