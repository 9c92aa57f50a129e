// paint-artwork.cpp: paints Zentrel's pictures and window icon into ui/qt/resources.
//
// Not part of the build; run by hand after changing the artwork:
//   g++ -std=c++20 -fPIC scripts/paint-artwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/paint-artwork
//   QT_QPA_PLATFORM=offscreen /tmp/paint-artwork ui/qt/resources
// then, in that directory, reduce the panel to 16 colours and the icon to 256:
//   convert frm_vert.png -dither None -colors 16 PNG8:frm_vert.png
//   convert zentrel.png -colors 255 PNG8:zentrel.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

// A router seen from the front and a little above: top face, front panel,
// right side, two antennas, a row of lamps and a row of ports. Drawn in a
// 88 x 80 frame and scaled for the icon.
void paintRouter(QPainter &p, bool withShadow)
{
    p.setRenderHint(QPainter::Antialiasing);
    if (withShadow) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawEllipse(QRectF(6, 58, 82, 10));
    }

    // Antennas stand behind the box.
    QPen antenna(QColor(0x1d, 0x24, 0x2c), 3.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(antenna);
    p.drawLine(QPointF(24, 38), QPointF(17, 7));
    p.drawLine(QPointF(70, 38), QPointF(77, 7));
    p.setPen(QPen(QColor(0x6c, 0x7a, 0x88), 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(23.2, 34), QPointF(17.6, 9));
    p.drawLine(QPointF(69.2, 34), QPointF(75.6, 9));

    p.setPen(QPen(QColor(0x14, 0x1a, 0x20), 1));
    QPolygonF top({{8, 42}, {76, 42}, {84, 34}, {16, 34}});
    QLinearGradient topShade(0, 34, 0, 42);
    topShade.setColorAt(0, QColor(0x8a, 0x9b, 0xad));
    topShade.setColorAt(1, QColor(0x64, 0x76, 0x89));
    p.setBrush(topShade);
    p.drawPolygon(top);

    QPolygonF side({{76, 42}, {84, 34}, {84, 53}, {76, 61}});
    p.setBrush(QColor(0x26, 0x30, 0x3b));
    p.drawPolygon(side);

    QLinearGradient frontShade(0, 42, 0, 61);
    frontShade.setColorAt(0, QColor(0x45, 0x54, 0x64));
    frontShade.setColorAt(1, QColor(0x2c, 0x37, 0x43));
    p.setBrush(frontShade);
    p.drawRect(QRectF(8, 42, 68, 19));

    // Lamps: power and link green, traffic amber, one unlit.
    const QColor lamps[] = {QColor(0x3c, 0xf0, 0x5a), QColor(0x3c, 0xf0, 0x5a),
                            QColor(0xff, 0xb8, 0x2a), QColor(0x3c, 0xf0, 0x5a),
                            QColor(0x20, 0x3a, 0x26)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(lamps[i]);
        p.drawEllipse(QPointF(14 + 6 * i, 51.5), 1.9, 1.9);
    }

    // Four ports with their latch notch.
    for (int i = 0; i < 4; ++i) {
        const QRectF port(45 + 7.5 * i, 47.5, 6, 6);
        p.setBrush(QColor(0x10, 0x14, 0x18));
        p.drawRect(port);
        p.setBrush(QColor(0x58, 0x66, 0x74));
        p.drawRect(QRectF(port.left() + 2, port.bottom() - 1.5, 2, 1.5));
    }
    p.setBrush(QColor(0x7f, 0x90, 0xa2));
    p.drawRect(QRectF(10, 57, 30, 1));
}

QImage picture1()
{
    QImage image(88, 80, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, 80);
    sky.setColorAt(0, QColor(0xe6, 0xee, 0xf5));
    sky.setColorAt(0.72, QColor(0xbf, 0xcf, 0xdf));
    sky.setColorAt(0.73, QColor(0xa9, 0xb8, 0xc7));
    sky.setColorAt(1, QColor(0x95, 0xa5, 0xb5));
    p.fillRect(image.rect(), sky);
    // Radio waves off the antenna tips.
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x4f, 0x86, 0xc6), 1.3));
    for (int r : {5, 9}) {
        p.drawArc(QRectF(17 - r, 7 - r, 2 * r, 2 * r), 100 * 16, 60 * 16);
        p.drawArc(QRectF(77 - r, 7 - r, 2 * r, 2 * r), 20 * 16, 60 * 16);
    }
    paintRouter(p, true);
    return image;
}

// The band behind the program name, the title and the lamps. Only its left
// 267 x 82 pixels show in the window; the lamps sit in the dark strip.
QImage panel()
{
    QImage image(290, 85, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient green(0, 0, 0, 85);
    green.setColorAt(0, QColor(0x13, 0x4d, 0x27));
    green.setColorAt(0.5, QColor(0x0c, 0x3a, 0x1c));
    green.setColorAt(1, QColor(0x06, 0x27, 0x11));
    p.fillRect(image.rect(), green);

    p.setRenderHint(QPainter::Antialiasing);
    // Circuit traces along the bottom corners, faint enough to keep the name readable.
    QPen trace(QColor(0x23, 0x6b, 0x3a), 1.2);
    p.setPen(trace);
    p.setBrush(Qt::NoBrush);
    const QPolygonF traces[] = {
        {{0, 70}, {30, 70}, {40, 60}, {80, 60}},
        {{0, 78}, {50, 78}, {58, 70}, {92, 70}},
        {{267, 64}, {230, 64}, {222, 56}, {186, 56}},
        {{267, 74}, {210, 74}, {204, 68}, {170, 68}},
        {{0, 8}, {22, 8}, {30, 16}},
        {{267, 10}, {244, 10}, {236, 18}},
    };
    for (const QPolygonF &line : traces) {
        p.drawPolyline(line);
        p.setBrush(QColor(0x3a, 0x8c, 0x52));
        p.drawEllipse(line.last(), 2, 2);
        p.setBrush(Qt::NoBrush);
    }

    // The lamp strip: a dark recess with one socket per lamp (lamps are 4 x 4).
    p.setPen(QPen(QColor(0x2f, 0x7a, 0x45), 1));
    p.setBrush(QColor(0x03, 0x14, 0x08));
    p.drawRoundedRect(QRectF(106.5, 56.5, 42, 18), 3, 3);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0x2f, 0x7a, 0x45));
    p.setBrush(QColor(0, 0, 0));
    // One pixel of rim around each lamp square; the traffic lamps share a column.
    for (QRect socket : {QRect(113, 66, 5, 5), QRect(130, 61, 5, 5), QRect(138, 59, 5, 13)})
        p.drawRect(socket);
    return image;
}

// The router again on a green tile, drawn on its own 32 x 32 grid so that
// the lines stay crisp at that size.
QImage icon()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient green(0, 0, 0, 32);
    green.setColorAt(0, QColor(0x1f, 0x7a, 0x3c));
    green.setColorAt(1, QColor(0x0a, 0x3a, 0x1b));
    p.setPen(QPen(QColor(0x05, 0x22, 0x0e), 1));
    p.setBrush(green);
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);

    p.setPen(QPen(QColor(0xe8, 0xee, 0xf3), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 15), QPointF(7, 5));
    p.drawLine(QPointF(23, 15), QPointF(25, 5));

    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc4, 0xd0, 0xdc));
    p.drawPolygon(QPolygon({{4, 17}, {26, 17}, {29, 14}, {7, 14}}));
    p.setBrush(QColor(0x8e, 0x9c, 0xab));
    p.drawPolygon(QPolygon({{26, 17}, {29, 14}, {29, 22}, {26, 25}}));
    p.setBrush(QColor(0xe8, 0xee, 0xf3));
    p.drawRect(4, 17, 22, 8);
    p.setBrush(QColor(0x2c, 0xd8, 0x4c));
    for (int x : {6, 9, 12})
        p.drawRect(x, 20, 2, 2);
    p.setBrush(QColor(0x26, 0x30, 0x3b));
    for (int x : {16, 20})
        p.drawRect(x, 19, 3, 4);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const bool saved = picture1().save(out.filePath("picture1.png"))
                       && panel().save(out.filePath("frm_vert.png"))
                       && icon().save(out.filePath("zentrel.png"));
    return saved ? 0 : 1;
}
