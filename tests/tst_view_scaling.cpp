// tst_view_scaling.cpp: the window's pictures keep their twips on screens at 150 % and 200 %.
#include "ui/qt/qt_view_looks.h"

#include <QPixmap>
#include <QTest>

using namespace zentrel;

class tst_ViewScaling : public QObject
{
    Q_OBJECT
private slots:
    void fitPicture_coversSameTwips_data();
    void fitPicture_coversSameTwips();
};

void tst_ViewScaling::fitPicture_coversSameTwips_data()
{
    QTest::addColumn<double>("dpi");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<QSize>("logical");
    QTest::addColumn<QSize>("device");

    // An 88 x 80 picture, 1320 x 1200 twips at 96 dpi.
    QTest::newRow("150 % by scale factor") << 96.0 << 1.5 << QSize(88, 80) << QSize(132, 120);
    QTest::newRow("200 % by scale factor") << 96.0 << 2.0 << QSize(88, 80) << QSize(176, 160);
    QTest::newRow("144 dpi, no scaling") << 144.0 << 1.0 << QSize(132, 120) << QSize(132, 120);
    QTest::newRow("144 dpi rounded to 2x") << 72.0 << 2.0 << QSize(66, 60) << QSize(132, 120);
    QTest::newRow("120 dpi") << 120.0 << 1.0 << QSize(110, 100) << QSize(110, 100);
}

// The picture must cover what its box covers at that scale: logical pixels
// through the logical DPI, device pixels through the ratio.
void tst_ViewScaling::fitPicture_coversSameTwips()
{
    QFETCH(double, dpi);
    QFETCH(double, ratio);
    QFETCH(QSize, logical);
    QFETCH(QSize, device);

    QPixmap picture(88, 80);
    picture.fill(Qt::green);
    const ui::TwipScale scale(dpi);
    const QPixmap fitted = ui::fitPicture(picture, scale, ratio);
    QCOMPARE(fitted.size(), device);
    QCOMPARE(fitted.deviceIndependentSize().toSize(), logical);
    QCOMPARE(logical, QSize(scale.px(1320), scale.px(1200)));
    QCOMPARE(fitted.toImage().pixelColor(device.width() - 1, device.height() - 1), QColor(Qt::green));
}

QTEST_MAIN(tst_ViewScaling)
#include "tst_view_scaling.moc"
