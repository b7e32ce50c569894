#include "app/gui/QuillmarkArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace quillmark::gui {

namespace {
const QColor Parchment(0xf7, 0xf0, 0xdc);
const QColor ParchmentShade(0xe6, 0xd6, 0xb0);
const QColor Ink(0x1f, 0x2a, 0x4a);
const QColor Accent(0x8a, 0x2b, 0x1e);
} // namespace

void PaintQuill(QPainter& p, const QRectF& r, const QColor& ink) {
    p.save();
    p.translate(r.topLeft());
    p.scale(r.width() / 100.0, r.height() / 100.0);
    p.setRenderHint(QPainter::Antialiasing);

    // The vane: a long leaf from the nib (lower left) to the tip (upper right).
    QPainterPath vane;
    vane.moveTo(18, 84);
    vane.cubicTo(22, 55, 50, 20, 96, 4);
    vane.cubicTo(80, 30, 62, 58, 30, 80);
    vane.cubicTo(27, 82, 22, 84, 18, 84);
    QLinearGradient fill(18, 84, 96, 4);
    fill.setColorAt(0, ink.lighter(160));
    fill.setColorAt(1, QColor(255, 255, 255));
    p.setPen(QPen(ink, 1.2));
    p.setBrush(fill);
    p.drawPath(vane);

    // Barbs: short strokes across the vane.
    p.setPen(QPen(ink.lighter(130), 0.8));
    for (int i = 1; i < 9; ++i) {
        double t = i / 10.0;
        QPointF onShaft(18 + 78 * t, 84 - 80 * t);
        p.drawLine(onShaft, onShaft + QPointF(-7 + 4 * t, -2 - 6 * t));
    }

    // The shaft and the nib.
    QPainterPath shaft;
    shaft.moveTo(8, 96);
    shaft.quadTo(40, 60, 96, 4);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shaft);
    p.setPen(QPen(ink, 3.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 96), QPointF(14, 89));
    p.restore();
}

void PaintSplashPicture(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(r.topLeft());
    p.scale(r.width() / 320.0, r.height() / 312.0);

    // Paper with a soft vignette.
    QRadialGradient paper(QPointF(160, 130), 260);
    paper.setColorAt(0, Parchment);
    paper.setColorAt(1, ParchmentShade);
    p.fillRect(QRectF(0, 0, 320, 312), paper);

    // Title band above the memo.
    QFont title("DejaVu Serif");
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Ink);
    p.drawText(QRectF(0, 6, 320, 44), Qt::AlignCenter, "Quillmark");
    p.setPen(QPen(Accent, 1.5));
    p.drawLine(QPointF(60, 52), QPointF(260, 52));

    // The quill and an ink stroke below the memo.
    PaintQuill(p, QRectF(196, 196, 104, 104), Ink);
    QPainterPath stroke;
    stroke.moveTo(24, 282);
    stroke.cubicTo(70, 262, 110, 296, 150, 276);
    stroke.cubicTo(170, 266, 190, 280, 203, 294);
    p.setPen(QPen(Ink, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(stroke);

    QFont small("DejaVu Sans");
    small.setPixelSize(11);
    p.setFont(small);
    p.setPen(Ink.lighter(150));
    p.drawText(QRectF(16, 214, 180, 40), Qt::AlignLeft | Qt::AlignTop, "Mail archiver\nKeldane");

    p.setPen(QPen(Ink, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 319, 311));
    p.restore();
}

QIcon QuillmarkIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Ink, size / 32.0));
        p.setBrush(Parchment);
        p.drawRoundedRect(QRectF(size * 0.06, size * 0.06, size * 0.88, size * 0.88), size * 0.14, size * 0.14);
        PaintQuill(p, QRectF(size * 0.14, size * 0.1, size * 0.76, size * 0.76), Ink);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace quillmark::gui
