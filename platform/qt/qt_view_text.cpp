// qt_view_text.cpp: a text box's bytes shown in a QPlainTextEdit, appends costing only what they add.
#include "platform/qt/qt_view_text.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace zentrel::platform {

namespace {

bool shown(unsigned char byte)
{
    // C0 and C1 controls and DEL draw as nothing useful; TAB is kept.
    return byte == '\t' || (byte >= 0x20 && byte != 0x7f && (byte < 0x80 || byte >= 0xa0));
}

} // namespace

QString displayText(std::string_view bytes, TextEnd &end)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r' || (byte == '\n' && !end.afterCr)) {
            text += QLatin1Char('\n');
            end.column = 0;
        } else if (byte != '\n' && shown(byte)) {
            if (end.column == LongestShownLine) {
                text += QLatin1Char('\n');
                end.column = 0;
            }
            text += QLatin1Char(c);
            ++end.column;
        }
        end.afterCr = byte == '\r';
    }
    return text;
}

TextPanel::TextPanel(QPlainTextEdit *edit) : m_edit(edit) {}

void TextPanel::show(const TextBox &box)
{
    const std::string &bytes = box.text();
    if (m_valid && box.generation() == m_generation && bytes.size() >= m_shownBytes) {
        if (bytes.size() == m_shownBytes)
            return;
        const std::string_view added = std::string_view(bytes).substr(m_shownBytes);
        m_shownBytes = bytes.size();
        const QString text = displayText(added, m_end);
        if (text.isEmpty())
            return;
        // A cursor of our own: the operator's selection stays where it is.
        QTextCursor end(m_edit->document());
        end.movePosition(QTextCursor::End);
        end.insertText(text);
        QScrollBar *bar = m_edit->verticalScrollBar();
        bar->setValue(bar->maximum());
        return;
    }

    m_valid = true;
    m_generation = box.generation();
    m_shownBytes = bytes.size();
    m_end = TextEnd{};
    m_edit->setPlainText(displayText(bytes, m_end));
}

} // namespace zentrel::platform
