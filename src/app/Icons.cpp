#include "Icons.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace vopa::app::icons {
namespace {

constexpr int kSize = 48;

QIcon drawn(const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return QIcon(pixmap);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    p.setPen(QPen(color, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    const QPointF u = d / length, n(-u.y(), u.x());
    QPolygonF head({to + u * 2, to - u * 9 + n * 7, to - u * 9 - n * 7});
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawPolygon(head);
}

void cylinder(QPainter& p, QRectF r, const QColor& fill) {
    const double cap = r.height() / 5;
    p.setPen(QPen(fill.darker(160), 2));
    p.setBrush(fill);
    QPainterPath body;
    body.moveTo(r.left(), r.top() + cap / 2);
    body.lineTo(r.left(), r.bottom() - cap / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
    body.lineTo(r.right(), r.top() + cap / 2);
    p.drawPath(body);
    p.setBrush(fill.lighter(130));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void building(QPainter& p, QRectF r, const QColor& fill) {
    p.setPen(QPen(fill.darker(170), 2));
    p.setBrush(fill);
    p.drawRect(r);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 2; ++col)
            p.drawRect(QRectF(r.left() + 3 + col * (r.width() - 9) / 2 + col * 3, r.top() + 4 + row * 7, (r.width() - 12) / 2, 4));
}

}  // namespace

QIcon switchCompany() {
    return drawn([](QPainter& p) {
        building(p, QRectF(3, 14, 14, 30), QColor("#4a7ab5"));
        building(p, QRectF(31, 14, 14, 30), QColor("#5a9e6f"));
        arrow(p, QPointF(16, 8), QPointF(34, 8), QColor("#d08a1e"));
    });
}

QIcon exportDatabase() {
    return drawn([](QPainter& p) {
        cylinder(p, QRectF(4, 8, 24, 34), QColor("#4a7ab5"));
        arrow(p, QPointF(22, 26), QPointF(44, 26), QColor("#d08a1e"));
    });
}

QIcon exitProgram() {
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor("#6b4a2b"), 2));
        p.setBrush(QColor("#a0764c"));
        p.drawRect(QRectF(6, 4, 22, 40));
        p.setBrush(QColor("#f2d16b"));
        p.drawEllipse(QPointF(23, 25), 2, 2);
        arrow(p, QPointF(24, 25), QPointF(45, 25), QColor("#c0392b"));
    });
}

QIcon close() {
    return drawn([](QPainter& p) {
        p.setPen(QPen(QColor("#9b2d20"), 2));
        p.setBrush(QColor("#d9534f"));
        p.drawEllipse(QRectF(4, 4, 40, 40));
        p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 16), QPointF(32, 32));
        p.drawLine(QPointF(32, 16), QPointF(16, 32));
    });
}

QIcon build() {
    return drawn([](QPainter& p) {
        cylinder(p, QRectF(4, 6, 28, 38), QColor("#4a7ab5"));
        p.setPen(QPen(QColor("#2e8b57"), 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(38, 22), QPointF(38, 42));
        p.drawLine(QPointF(28, 32), QPointF(48, 32));
    });
}

}  // namespace vopa::app::icons

namespace vopa::app {

QLabel* titleLabel(QWidget* parent, const QString& text, int pointSize) {
    auto* title = new QLabel(text, parent);
    title->setObjectName("Label21");
    title->setStyleSheet(QString("font-size: %1pt; font-weight: bold; color: #1f4e79;").arg(pointSize));
    return title;
}

}  // namespace vopa::app
