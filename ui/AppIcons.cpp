#include "AppIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include <functional>

namespace {

QIcon Drawn(std::initializer_list<int> sizes, const std::function<void(QPainter &)> &draw)
{
    QIcon icon;
    for (int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0); // every picture is drawn on a 32 x 32 grid
        draw(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon Drawn(int size, const std::function<void(QPainter &)> &draw)
{
    return Drawn({size}, draw);
}

void Envelope(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(QColor(60, 60, 90), 1.5));
    p.setBrush(QColor(250, 250, 255));
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void Arrow(QPainter &p, const QPointF &from, const QPointF &to, const QColor &color)
{
    p.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const qreal angle = qAtan2(to.y() - from.y(), to.x() - from.x());
    const qreal head = 6;
    for (qreal side : {-0.6, 0.6}) {
        p.drawLine(to, to - QPointF(head * qCos(angle + side), head * qSin(angle + side)));
    }
}

} // namespace

QIcon TavrinoIcon()
{
    // Sharp at every size a desktop asks for, the menu's and the launcher's too.
    return Drawn({16, 22, 24, 32, 48, 64, 128, 256}, [](QPainter &p) {
        // The memo pad: the colour of the viewer's fields.
        p.setPen(QPen(QColor(120, 100, 40), 1.5));
        p.setBrush(QColor(255, 255, 192));
        p.drawRect(QRectF(5, 3, 22, 27));
        p.setPen(QPen(QColor(170, 150, 90), 1));
        for (int y = 10; y <= 26; y += 4)
            p.drawLine(QPointF(8, y), QPointF(24, y));
        // The handset.
        QPainterPath handset;
        handset.moveTo(9, 20);
        handset.cubicTo(9, 10, 23, 10, 23, 20);
        p.setPen(QPen(QColor(200, 40, 40), 4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(handset);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 40, 40));
        p.drawRoundedRect(QRectF(5, 19, 8, 5), 2, 2);
        p.drawRoundedRect(QRectF(19, 19, 8, 5), 2, 2);
    });
}

QIcon SendPicture()
{
    return Drawn(32, [](QPainter &p) {
        Envelope(p, QRectF(2, 8, 22, 16));
        Arrow(p, QPointF(16, 27), QPointF(30, 27), QColor(30, 120, 40));
    });
}

QIcon SettingsPicture()
{
    return Drawn(32, [](QPainter &p) {
        p.translate(16, 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 100, 120));
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-2.5, -14, 5, 6));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), 10, 10);
        p.setBrush(QColor(235, 235, 240));
        p.drawEllipse(QPointF(0, 0), 4, 4);
    });
}

QIcon ExitPicture()
{
    return Drawn(32, [](QPainter &p) {
        // A door standing open, and the way out.
        p.setPen(QPen(QColor(80, 60, 40), 1.5));
        p.setBrush(QColor(235, 225, 205));
        p.drawRect(QRectF(4, 3, 16, 26));
        QPainterPath door;
        door.moveTo(4, 3);
        door.lineTo(13, 7);
        door.lineTo(13, 31);
        door.lineTo(4, 29);
        door.closeSubpath();
        p.setBrush(QColor(150, 100, 50));
        p.drawPath(door);
        Arrow(p, QPointF(16, 16), QPointF(29, 16), QColor(200, 40, 40));
    });
}

QIcon ReplyPicture()
{
    return Drawn(32, [](QPainter &p) {
        Envelope(p, QRectF(8, 10, 22, 16));
        Arrow(p, QPointF(16, 27), QPointF(2, 27), QColor(30, 90, 170));
    });
}

QIcon DeletePicture()
{
    return Drawn(32, [](QPainter &p) {
        p.setPen(QPen(QColor(70, 70, 70), 1.5));
        p.setBrush(QColor(200, 205, 210));
        QPainterPath can;
        can.moveTo(8, 9);
        can.lineTo(24, 9);
        can.lineTo(22, 30);
        can.lineTo(10, 30);
        can.closeSubpath();
        p.drawPath(can);
        p.drawRect(QRectF(6, 6, 20, 3));
        p.drawRect(QRectF(13, 3, 6, 3));
        for (qreal x : {12.5, 16.0, 19.5})
            p.drawLine(QPointF(x, 12), QPointF(x, 27));
    });
}

QIcon HelpPicture()
{
    return Drawn(32, [](QPainter &p) {
        // A question mark in a blue disc.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 90, 170));
        p.drawEllipse(QRectF(3, 3, 26, 26));
        QFont font = p.font();
        font.setPixelSize(20);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
    });
}

QIcon ArrowPicture(bool up)
{
    return Drawn(32, [up](QPainter &p) {
        Arrow(p, QPointF(16, up ? 28 : 4), QPointF(16, up ? 4 : 28), QColor(30, 120, 60));
    });
}

QIcon WarningTrayIcon()
{
    const QPixmap base = TavrinoIcon().pixmap(32, 32);
    return Drawn(32, [base](QPainter &p) {
        // The desk's own icon with a warning sign over its corner.
        p.drawPixmap(0, 0, base);
        QPainterPath sign;
        sign.moveTo(22, 13);
        sign.lineTo(31, 30);
        sign.lineTo(13, 30);
        sign.closeSubpath();
        p.setPen(QPen(QColor(90, 60, 0), 1));
        p.setBrush(QColor(250, 200, 20));
        p.drawPath(sign);
        p.setPen(QPen(Qt::black, 2.2));
        p.drawLine(QPointF(22, 18), QPointF(22, 25));
        p.drawPoint(QPointF(22, 28));
    });
}
