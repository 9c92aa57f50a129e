// qt_view_text.cpp: a text box's bytes painted straight from the window model, a screen at a time.
#include "ui/qt/qt_view_text.h"

#include "ui/qt/qt_view_text_columns.h"
#include "ui/qt/qt_view_text_accessible.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace zentrel::ui {

namespace {

bool shown(unsigned char byte)
{
    // C0 and C1 controls and DEL draw as nothing useful; TAB is kept.
    return byte == '\t' || (byte >= 0x20 && byte != 0x7f && (byte < 0x80 || byte >= 0xa0));
}

} // namespace

void LineIndex::clear()
{
    *this = LineIndex();
}

void LineIndex::extend(std::string_view text)
{
    for (std::size_t i = m_indexed; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\r' || (byte == '\n' && !m_afterCr)) {
            m_starts.push_back(std::uint32_t(i + 1));
            m_characters = m_columns = 0;
        } else if (shown(byte)) {
            if (m_characters == LongestShownLine) {
                m_starts.push_back(std::uint32_t(i));
                m_characters = m_columns = 0;
            }
            ++m_characters;
            m_columns = nextColumn(m_columns, byte);
            m_widest = std::max(m_widest, m_columns);
        }
        m_afterCr = byte == '\r';
    }
    m_indexed = text.size();
}

QString LineIndex::line(std::string_view text, std::size_t line) const
{
    const std::size_t start = m_starts[line];
    const std::size_t end = line + 1 < m_starts.size() ? m_starts[line + 1] : m_indexed;
    QString shownLine;
    shownLine.reserve(qsizetype(end - start));
    for (std::size_t i = start; i < end; ++i)
        if (shown(static_cast<unsigned char>(text[i])))
            shownLine += QLatin1Char(text[i]);
    return shownLine;
}

TextPanel::TextPanel(QWidget *parent) : QAbstractScrollArea(parent)
{
    installAccessiblePanels();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
}

std::string_view TextPanel::text() const
{
    return m_box ? std::string_view(m_box->text()) : std::string_view();
}

// The model moved on in a way the index cannot follow (a new text, a dropped
// start) and the view has not synced yet: its bytes must not be drawn.
bool TextPanel::stale() const
{
    return m_box
           && (m_box->generation() != m_generation || m_box->drops() != m_drops
               || m_box->text().size() < m_index.bytes());
}

void TextPanel::follow(const TextBox &box)
{
    const std::string &bytes = box.text();
    const bool same = m_box == &box && box.generation() == m_generation;
    if (same && box.drops() == m_drops && bytes.size() >= m_index.bytes()) {
        if (bytes.size() == m_index.bytes())
            return;
        m_index.extend(bytes);
        updateScrollBars();
        scrollToEnd();
        viewport()->update();
        return;
    }
    m_box = &box;
    m_generation = box.generation();
    m_drops = box.drops();
    m_index.clear();
    m_index.extend(bytes);
    m_anchor = m_cursor = Position{};
    updateScrollBars();
    if (same) {
        scrollToEnd();   // the start was dropped under an operator reading the end
    } else {
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
    }
    viewport()->update();
}

QString TextPanel::toPlainText() const
{
    QString all;
    if (stale())
        return all;
    for (std::size_t line = 0; line < m_index.lines(); ++line) {
        if (line > 0)
            all += QLatin1Char('\n');
        all += m_index.line(text(), line);
    }
    return all;
}

void TextPanel::updateScrollBars()
{
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = std::max(1, metrics.lineSpacing());
    const int visibleLines = std::max(1, (viewport()->height() - 2 * TextMargin) / lineHeight);
    const int lines = int(std::min<std::size_t>(m_index.lines(), INT32_MAX));
    verticalScrollBar()->setRange(0, std::max(0, lines - visibleLines));
    verticalScrollBar()->setPageStep(visibleLines);
    verticalScrollBar()->setSingleStep(1);
    const int width = m_index.widest() * columnWidth(metrics) + 2 * TextMargin;
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(columnWidth(metrics));
}

void TextPanel::scrollToEnd()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TextPanel::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void TextPanel::paintEvent(QPaintEvent *)
{
    if (stale())
        return;   // the sync that is due repaints
    QPainter painter(viewport());
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = std::max(1, metrics.lineSpacing());
    const int width = columnWidth(metrics);
    const int left = TextMargin - horizontalScrollBar()->value();
    const int firstColumn = horizontalScrollBar()->value() / width;
    const int columnsInSight = viewport()->width() / width + 2;
    const auto [from, to] = std::minmax(m_anchor, m_cursor);
    const std::string_view bytes = text();
    int y = TextMargin;
    for (std::size_t line = std::size_t(verticalScrollBar()->value());
         line < m_index.lines() && y < viewport()->height(); ++line, y += lineHeight) {
        const QString characters = m_index.line(bytes, line);
        const QString inSight = expandTabs(characters).mid(firstColumn, columnsInSight);
        const int textX = left + firstColumn * width;
        const int baseline = y + metrics.ascent();
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(textX, baseline, inSight);
        if (from == to || line < from.line || line > to.line)
            continue;
        // The selected part again, in the selection's colours.
        const int start = line == from.line ? columnOf(characters, from.character) : 0;
        int end = line == to.line ? columnOf(characters, to.character) : columnOf(characters, int(characters.size())) + 1;
        const QRect selected(left + start * width, y, (end - start) * width, lineHeight);
        painter.fillRect(selected, palette().brush(QPalette::Highlight));
        painter.save();
        painter.setClipRect(selected);
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(textX, baseline, inSight);
        painter.restore();
    }
}

} // namespace zentrel::ui
