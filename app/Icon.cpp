#include "app/Icon.h"

#include <QPainter>
#include <QPixmap>

namespace strandis::app {

QImage ProgramIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1c, 0x3d, 0x6e));
    painter.drawEllipse(QRectF(2 * s, 2 * s, 60 * s, 60 * s));
    const QColor strands[] = {QColor(0xf2, 0xb1, 0x34), QColor(0x4f, 0xc3, 0xf7),
                              QColor(0xe5, 0x73, 0x73)};
    for (int k = 0; k < 3; ++k) {
        painter.setPen(QPen(strands[k], 5 * s, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(32 * s, 32 * s),
                         QPointF((14 + 18 * k) * s, 56 * s - (k == 1 ? 0 : 6 * s)));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xee, 0xee, 0xee));
    painter.drawEllipse(QRectF(25 * s, 25 * s, 14 * s, 14 * s));
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}

}  // namespace strandis::app
