// Draws the installer's application icon: a feather over a tray on a blue rounded square.
// Run at build time; the PNG it writes is compiled into the program as a resource.
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    constexpr int side = 256;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);

        QLinearGradient background(0, 0, 0, side);
        background.setColorAt(0, QColor(0x4f, 0x8d, 0xf5));
        background.setColorAt(1, QColor(0x1f, 0x4f, 0xc4));
        p.setPen(Qt::NoPen);
        p.setBrush(background);
        p.drawRoundedRect(QRectF(12, 12, side - 24, side - 24), 52, 52);

        // The feather: a leaf-shaped vane with a shaft, leaning to the right.
        QPainterPath vane;
        vane.moveTo(86, 176);
        vane.cubicTo(80, 112, 122, 58, 186, 44);
        vane.cubicTo(184, 104, 148, 158, 86, 176);
        p.setBrush(QColor(255, 255, 255, 235));
        p.drawPath(vane);
        QPen shaft(QColor(0x1f, 0x4f, 0xc4), 6, Qt::SolidLine, Qt::RoundCap);
        p.setPen(shaft);
        p.drawLine(QPointF(76, 190), QPointF(170, 64));

        // The tray the feather settles into.
        QPen tray(Qt::white, 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(tray);
        p.setBrush(Qt::NoBrush);
        QPainterPath trayPath;
        trayPath.moveTo(60, 176);
        trayPath.lineTo(60, 206);
        trayPath.lineTo(196, 206);
        trayPath.lineTo(196, 176);
        p.drawPath(trayPath);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
