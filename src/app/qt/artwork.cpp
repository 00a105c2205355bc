// The window's artwork, drawn: the window icon and the toolbar's images, grey ones for a disabled button.
#include "app/qt/artwork.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace jor::app {
namespace {

QPixmap canvas() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawDocument(QPainter& p, const QRectF& r, const QColor& paper) {
    const qreal fold = r.width() * 0.3;
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(paper);
    p.drawPath(page);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
    p.setPen(QPen(QColor(120, 140, 170), 1));
    for (qreal y = r.top() + fold + 2; y < r.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

}  // namespace

QPixmap powerImage() {
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor red(200, 20, 20);
    QPen pen(red, 4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    // The ring leaves a gap at the top for the bar.
    p.drawArc(QRectF(5, 6, 22, 22), 120 * 16, 300 * 16);
    p.drawLine(QPointF(16, 3), QPointF(16, 15));
    return pixmap;
}

QPixmap migrateImage() {
    QPixmap pixmap = canvas();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // The stack: three sheets at the bottom right.
    for (int i = 2; i >= 0; --i) drawDocument(p, QRectF(16 + i * 1.5, 14 + i * 1.5, 12, 14), QColor(235, 235, 235));
    // The document on its way.
    drawDocument(p, QRectF(3, 2, 11, 13), Qt::white);
    // The arrow that carries it.
    QPainterPath arrow;
    arrow.moveTo(5, 19);
    arrow.cubicTo(5, 26, 10, 28, 15, 26);
    p.setPen(QPen(QColor(30, 120, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arrow);
    QPainterPath head;
    head.moveTo(17, 25);
    head.lineTo(12, 21.5);
    head.lineTo(12.5, 29);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 120, 30));
    p.drawPath(head);
    return pixmap;
}

QPixmap greyImage(const QPixmap& image) {
    QImage img = image.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int grey = 96 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(img);
}

QIcon toolbarIcon(const QPixmap& image) {
    QIcon icon;
    icon.addPixmap(image, QIcon::Normal);
    icon.addPixmap(greyImage(image), QIcon::Disabled);
    return icon;
}

}  // namespace jor::app
