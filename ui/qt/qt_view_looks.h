// qt_view_looks.h: twips, colours, fonts and pictures of the window elements, in Qt terms.
#pragma once
#include "ui/window.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>

#include <string>

class QPalette;

namespace zentrel::ui {

// Twips to pixels through the screen's logical DPI: 15 twips a pixel at 96 dpi.
class TwipScale
{
public:
    explicit TwipScale(double logicalDpi);
    // The primary screen's, or 96 dpi without one.
    static TwipScale ofScreen();

    double dpi() const { return m_dpi; }
    int px(double twips) const;
    QRect rect(const Twips &twips) const;
    float twips(int px) const;
    // A window edge in pixels, whatever the twips hold (NaN, 1e30, negative):
    // kept within what a window system can place.
    int edge(double twips) const;

private:
    double m_dpi;
};

// 0x00BBGGRR, or a system colour taken from the palette.
QColor toQColor(Colour colour, const QPalette &palette);

// The named face when installed, else an installed sans-serif, at the named
// size and weight. An empty family gives the base font.
QFont toQFont(const Font &font, const QFont &base);
// The font of elements for which none is named.
QFont windowFont();
// The font of the text boxes: fixed pitch, so router output keeps its columns.
QFont textBoxFont();

// Model text is bytes; captions show them as Latin-1.
inline QString latin1(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// One of Zentrel's own images by the name the model gives it.
QPixmap picture(const std::string &name);
QString picturePath(const std::string &name);

// A picture drawn for 96 dpi, resampled so that it covers the same twips at
// this scale, in device pixels: at 150 % or 144 dpi it keeps its place in the
// window instead of shrinking or spilling out of its box.
QPixmap fitPicture(const QPixmap &picture, const TwipScale &scale, qreal deviceRatio);

} // namespace zentrel::ui
