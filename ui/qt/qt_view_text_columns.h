// qt_view_text_columns.h: where the characters of a shown line fall, TAB reaching the next stop.
#pragma once
#include <QFontMetrics>
#include <QString>

#include <algorithm>

namespace zentrel::ui {

// Around the text, as in the usual text widgets.
inline constexpr int TextMargin = 4;
inline constexpr int TabColumns = 8;

inline int nextColumn(int column, unsigned char byte)
{
    return byte == '\t' ? (column / TabColumns + 1) * TabColumns : column + 1;
}

// The panels use a fixed-pitch font: one width serves every character.
inline int columnWidth(const QFontMetrics &metrics)
{
    return std::max(1, metrics.horizontalAdvance(QLatin1Char('x')));
}

inline int columnOf(const QString &line, int character)
{
    int column = 0;
    for (int i = 0; i < character && i < line.size(); ++i)
        column = nextColumn(column, uchar(line[i].toLatin1()));
    return column;
}

// The character boundary nearest to a point `x` pixels into the line.
inline int characterAt(const QString &line, int x, int width)
{
    int column = 0;
    for (int i = 0; i < line.size(); ++i) {
        const int next = nextColumn(column, uchar(line[i].toLatin1()));
        if (2 * x < (column + next) * width)
            return i;
        column = next;
    }
    return int(line.size());
}

inline QString expandTabs(const QString &line)
{
    if (!line.contains(QLatin1Char('\t')))
        return line;
    QString expanded;
    for (const QChar c : line) {
        if (c == QLatin1Char('\t'))
            expanded += QString(TabColumns - expanded.size() % TabColumns, QLatin1Char(' '));
        else
            expanded += c;
    }
    return expanded;
}

} // namespace zentrel::ui
