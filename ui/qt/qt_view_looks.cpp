// qt_view_looks.cpp: twips, colours, fonts and pictures of the window elements, in Qt terms.
#include "ui/qt/qt_view_looks.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace zentrel::ui {

namespace {

constexpr double TwipsPerInch = 1440.0;
// Window systems keep coordinates in 16 bits; stay well inside.
constexpr int FarthestEdge = 16000;

// The faces the window was laid out for are narrow, "Small Fonts" most of
// all; DejaVu Sans, condensed, keeps captions inside their boxes.
QFont sansSerif(const QString &missingFamily)
{
    static const bool dejaVu = QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans"));
    QFont font = dejaVu ? QFont(QStringLiteral("DejaVu Sans")) : QApplication::font();
    font.setStretch(missingFamily == QLatin1String("Small Fonts") ? QFont::Condensed
                                                                  : QFont::SemiCondensed);
    return font;
}

} // namespace

TwipScale::TwipScale(double logicalDpi)
    : m_dpi(std::isfinite(logicalDpi) && logicalDpi > 0 ? logicalDpi : 96.0)
{
}

TwipScale TwipScale::ofScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return TwipScale(screen ? screen->logicalDotsPerInch() : 96.0);
}

int TwipScale::px(double twips) const
{
    return static_cast<int>(std::lround(twips * m_dpi / TwipsPerInch));
}

QRect TwipScale::rect(const Twips &twips) const
{
    return QRect(px(twips.left), px(twips.top), px(twips.width), px(twips.height));
}

float TwipScale::twips(int px) const
{
    return static_cast<float>(px * TwipsPerInch / m_dpi);
}

int TwipScale::edge(double twips) const
{
    if (std::isnan(twips))
        return 0;
    const double pixels = std::clamp(twips * m_dpi / TwipsPerInch, double(-FarthestEdge),
                                     double(FarthestEdge));
    return static_cast<int>(std::lround(pixels));
}

QColor toQColor(Colour colour, const QPalette &palette)
{
    if (colour & 0x80000000u) {
        switch (colour & 0xffu) {
        case 5: return palette.color(QPalette::Base);            // window background
        case 8: return palette.color(QPalette::Text);            // window text
        case 13: return palette.color(QPalette::Highlight);
        case 14: return palette.color(QPalette::HighlightedText);
        case 15: return palette.color(QPalette::Button);          // button face
        case 17: return palette.color(QPalette::Disabled, QPalette::WindowText);
        case 18: return palette.color(QPalette::ButtonText);
        default: return palette.color(QPalette::WindowText);
        }
    }
    return QColor(int(colour & 0xffu), int((colour >> 8) & 0xffu), int((colour >> 16) & 0xffu));
}

QFont toQFont(const Font &font, const QFont &base)
{
    if (font.family.empty())
        return base;
    const QString named = QString::fromStdString(font.family);
    QFont qfont = QFontDatabase::hasFamily(named) ? QFont(named) : sansSerif(named);
    qfont.setPointSizeF(font.points > 0 ? font.points : base.pointSizeF());
    qfont.setBold(font.bold);
    return qfont;
}

QFont windowFont()
{
    return toQFont(Font{"MS Sans Serif", 8.25, false}, QApplication::font());
}

QFont textBoxFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(8.25);
    return font;
}

QString picturePath(const std::string &name)
{
    return QStringLiteral(":/zentrel/%1.png").arg(QString::fromStdString(name));
}

QPixmap picture(const std::string &name)
{
    return QPixmap(picturePath(name));
}

QPixmap fitPicture(const QPixmap &picture, const TwipScale &scale, qreal deviceRatio)
{
    if (picture.isNull())
        return picture;
    if (!(deviceRatio > 0))
        deviceRatio = 1;
    const double pixelTwips = TwipsPerInch / 96.0;
    const QSize logical(scale.px(picture.width() * pixelTwips),
                        scale.px(picture.height() * pixelTwips));
    const QSize device = (QSizeF(logical) * deviceRatio).toSize();
    QPixmap fitted = device == picture.size()
                         ? picture
                         : picture.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    fitted.setDevicePixelRatio(deviceRatio);
    return fitted;
}

} // namespace zentrel::ui
