// qt_view_text_select.cpp: what the operator does in a text panel: select, copy, scroll by key.
#include "ui/qt/qt_view_text.h"

#include "ui/qt/qt_view_text_columns.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

namespace zentrel::ui {

TextPanel::Position TextPanel::positionAt(QPoint point) const
{
    if (m_index.lines() == 0 || stale())
        return {};
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = std::max(1, metrics.lineSpacing());
    const long long line = verticalScrollBar()->value()
                           + std::max(0, point.y() - TextMargin) / lineHeight;
    Position position;
    position.line = std::size_t(std::clamp<long long>(line, 0, (long long)m_index.lines() - 1));
    const QString characters = m_index.line(text(), position.line);
    const int x = std::max(0, point.x() - TextMargin + horizontalScrollBar()->value());
    position.character = characterAt(characters, x, columnWidth(metrics));
    return position;
}

QString TextPanel::selectedText() const
{
    const auto [from, to] = std::minmax(m_anchor, m_cursor);
    if (from == to || stale())
        return {};
    QString selected;
    for (std::size_t line = from.line; line <= to.line && line < m_index.lines(); ++line) {
        const QString characters = m_index.line(text(), line);
        const int start = line == from.line ? from.character : 0;
        const int end = line == to.line ? to.character : int(characters.size());
        selected += characters.mid(start, end - start);
        if (line != to.line)
            selected += QLatin1Char('\n');
    }
    return selected;
}

QString TextPanel::textInSight() const
{
    if (stale())
        return {};
    const int lineHeight = std::max(1, fontMetrics().lineSpacing());
    const std::size_t first = std::size_t(verticalScrollBar()->value());
    const std::size_t end = std::min(m_index.lines(), first + std::size_t(viewport()->height() / lineHeight + 1));
    QString lines;
    for (std::size_t line = first; line < end; ++line) {
        if (line > first)
            lines += QLatin1Char('\n');
        lines += m_index.line(text(), line);
    }
    return lines;
}

void TextPanel::selectAll()
{
    if (stale())
        return;
    m_anchor = Position{};
    m_cursor.line = m_index.lines() - 1;
    m_cursor.character = int(m_index.line(text(), m_cursor.line).size());
    viewport()->update();
}

void TextPanel::copy() const
{
    const QString selected = selectedText();
    if (!selected.isEmpty())
        QGuiApplication::clipboard()->setText(selected);
}

void TextPanel::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if ((event->modifiers() & Qt::ShiftModifier) && extendSelection(*event)) {
        viewport()->update();
    } else if (event->key() == Qt::Key_Home) {
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
    } else if (event->key() == Qt::Key_End) {
        scrollToEnd();
    } else {
        // Arrows and page keys scroll; Tab moves the focus on.
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool TextPanel::extendSelection(const QKeyEvent &event)
{
    if (stale())
        return false;
    const std::size_t last = m_index.lines() - 1;
    const auto length = [this](std::size_t line) { return int(m_index.line(text(), line).size()); };
    Position &end = m_cursor;
    switch (event.key()) {
    case Qt::Key_Left:
        if (end.character > 0)
            --end.character;
        else if (end.line > 0)
            end = {end.line - 1, length(end.line - 1)};
        break;
    case Qt::Key_Right:
        if (end.character < length(end.line))
            ++end.character;
        else if (end.line < last)
            end = {end.line + 1, 0};
        break;
    case Qt::Key_Up:
        if (end.line > 0)
            end = {end.line - 1, std::min(end.character, length(end.line - 1))};
        break;
    case Qt::Key_Down:
        if (end.line < last)
            end = {end.line + 1, std::min(end.character, length(end.line + 1))};
        break;
    case Qt::Key_Home:
        end = event.modifiers() & Qt::ControlModifier ? Position{} : Position{end.line, 0};
        break;
    case Qt::Key_End:
        end.line = event.modifiers() & Qt::ControlModifier ? last : end.line;
        end.character = length(end.line);
        break;
    default:
        return false;
    }
    ensureVisible(end);
    return true;
}

void TextPanel::ensureVisible(const Position &position)
{
    const int lineHeight = std::max(1, fontMetrics().lineSpacing());
    const int lines = std::max(1, (viewport()->height() - 2 * TextMargin) / lineHeight);
    const long long line = (long long)position.line;
    QScrollBar *bar = verticalScrollBar();
    if (line < bar->value())
        bar->setValue(int(line));
    else if (line >= bar->value() + lines)
        bar->setValue(int(line - lines + 1));
}

void TextPanel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || stale()) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    // The word under the pointer: everything between two blanks.
    const Position at = positionAt(event->position().toPoint());
    const QString characters = m_index.line(text(), at.line);
    int from = std::min(at.character, int(characters.size()));
    int to = from;
    while (from > 0 && !characters[from - 1].isSpace())
        --from;
    while (to < characters.size() && !characters[to].isSpace())
        ++to;
    m_anchor = {at.line, from};
    m_cursor = {at.line, to};
    m_selecting = false;
    viewport()->update();
}

void TextPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_cursor = positionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = m_cursor;
    m_selecting = true;
    viewport()->update();
}

void TextPanel::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selecting)
        return;
    // Dragging past the edge scrolls the text under the pointer.
    const QPoint point = event->position().toPoint();
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_cursor = positionAt(point);
    viewport()->update();
}

void TextPanel::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_selecting || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && m_anchor != m_cursor)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TextPanel::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("&Copy"), this, [this] { copy(); });
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(m_anchor != m_cursor);
    QAction *allAction = menu.addAction(tr("Select All"), this, [this] { selectAll(); });
    allAction->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

} // namespace zentrel::ui
