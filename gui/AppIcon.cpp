#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velmar {

namespace {

QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 32.0;

    // The drum: three stacked discs.
    const QColor body(0x1f, 0x5f, 0xa8);
    const QColor top(0x5b, 0x9b, 0xe6);
    p.setPen(QPen(QColor(0x12, 0x3a, 0x66), 1.2 * u));
    const QRectF column(4 * u, 3 * u, 18 * u, 22 * u);
    const qreal cap = 6 * u;
    QPainterPath drum;
    drum.moveTo(column.left(), column.top() + cap / 2);
    drum.lineTo(column.left(), column.bottom() - cap / 2);
    drum.arcTo(QRectF(column.left(), column.bottom() - cap, column.width(), cap), 180, 180);
    drum.lineTo(column.right(), column.top() + cap / 2);
    drum.arcTo(QRectF(column.left(), column.top(), column.width(), cap), 0, -180);
    p.setBrush(body);
    p.drawPath(drum);
    for (int ring = 1; ring <= 2; ++ring) {
        const qreal y = column.top() + ring * (column.height() - cap) / 3;
        p.drawArc(QRectF(column.left(), y, column.width(), cap), 180 * 16, 180 * 16);
    }
    p.setBrush(top);
    p.drawEllipse(QRectF(column.left(), column.top(), column.width(), cap));

    // The arrow down to the local machine.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xc8, 0x00));
    QPolygonF arrow;
    arrow << QPointF(22 * u, 12 * u) << QPointF(27 * u, 12 * u) << QPointF(27 * u, 21 * u)
          << QPointF(31 * u, 21 * u) << QPointF(24.5 * u, 30 * u) << QPointF(18 * u, 21 * u)
          << QPointF(22 * u, 21 * u);
    p.drawPolygon(arrow);
    return pixmap;
}

}  // namespace

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}

}  // namespace velmar
