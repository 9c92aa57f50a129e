// qt_view_text.h: a text box's bytes painted straight from the window model, a screen at a time.
#pragma once
#include "ui/window.h"

#include <QAbstractScrollArea>
#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

class QKeyEvent;

namespace zentrel::ui {

// A line longer than this many shown characters is shown broken, as a
// scrolling widget of the usual kind would otherwise lay out an endless line.
inline constexpr int LongestShownLine = 4096;

// Where each shown line of a text box starts in its bytes. CR LF, a lone CR
// and a lone LF each end a line; TAB stays; other control bytes are left out
// when a line is drawn. Costs four bytes a line and never a copy of the text.
class LineIndex
{
public:
    void clear();
    // Takes in bytes from bytes() up to the end of `text`.
    void extend(std::string_view text);
    std::size_t lines() const { return m_starts.size(); }
    std::size_t bytes() const { return m_indexed; }
    // The shown characters of a line, Latin-1.
    QString line(std::string_view text, std::size_t line) const;
    // The widest line so far, in columns (TAB to the next multiple of eight).
    int widest() const { return m_widest; }

private:
    std::vector<std::uint32_t> m_starts{0};
    std::size_t m_indexed = 0;
    bool m_afterCr = false;
    int m_characters = 0;   // of the last line, for the break
    int m_columns = 0;      // of the last line, for the width
    int m_widest = 0;
};

// Read-only: the operator reads, scrolls, selects and copies; the text stays
// in the model, and only the lines in sight are turned into characters.
class TextPanel : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit TextPanel(QWidget *parent = nullptr);

    // Brings the panel up to the text box's text: only the new bytes when the
    // text has grown since the last call, everything when it was replaced or
    // its start dropped. Appends and drops leave the view scrolled to the
    // end; a replaced text shows from the top. The box must outlive the panel.
    void follow(const TextBox &box);

    // The text as shown, lines joined by LF: what follow() last took in
    // (empty while the box's text was replaced and not yet followed).
    QString toPlainText() const;
    // How many of the box's bytes follow() last took in.
    std::size_t shownBytes() const { return m_index.bytes(); }
    QString selectedText() const;
    // The lines in sight, for a screen reader: never the whole of a long text.
    QString textInSight() const;
    void selectAll();
    void copy() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Position {
        std::size_t line = 0;
        int character = 0;
        auto operator<=>(const Position &) const = default;
    };

    std::string_view text() const;
    bool stale() const;
    Position positionAt(QPoint point) const;
    // Shift with an arrow, Home or End moves the selection's free end.
    bool extendSelection(const QKeyEvent &event);
    void ensureVisible(const Position &position);
    void updateScrollBars();
    void scrollToEnd();

    const TextBox *m_box = nullptr;
    std::uint64_t m_generation = 0;
    std::uint64_t m_drops = 0;
    LineIndex m_index;
    Position m_anchor, m_cursor;   // the selection lies between them
    bool m_selecting = false;
};

} // namespace zentrel::ui
