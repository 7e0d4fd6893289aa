#include "cpl/Pictures.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QImage Blank(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// Everything is drawn on a 32-unit grid and scaled to the wanted size.
void Prepare(QPainter& p, int size) {
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
}

void DrawGlobe(QPainter& p, QRectF r) {
  QLinearGradient sea(r.topLeft(), r.bottomRight());
  sea.setColorAt(0, QColor(120, 180, 255));
  sea.setColorAt(1, QColor(20, 70, 170));
  p.setPen(QPen(QColor(10, 40, 110), 1.2));
  p.setBrush(sea);
  p.drawEllipse(r);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(230, 240, 255, 200), 1.0));
  QPointF c = r.center();
  p.drawEllipse(c, r.width() * 0.22, r.height() / 2);
  p.drawLine(QPointF(c.x(), r.top()), QPointF(c.x(), r.bottom()));
  p.drawLine(QPointF(r.left(), c.y()), QPointF(r.right(), c.y()));
  p.drawArc(r.adjusted(2, r.height() * 0.18, -2, -r.height() * 0.55), 0, 180 * 16);
  p.drawArc(r.adjusted(2, r.height() * 0.55, -2, -r.height() * 0.18), 180 * 16, 180 * 16);
}

void DrawServerBox(QPainter& p, QRectF r) {
  QLinearGradient metal(r.topLeft(), r.topRight());
  metal.setColorAt(0, QColor(235, 235, 235));
  metal.setColorAt(1, QColor(150, 150, 160));
  p.setPen(QPen(QColor(60, 60, 70), 1.0));
  p.setBrush(metal);
  p.drawRoundedRect(r, 1.5, 1.5);
  p.setPen(QPen(QColor(90, 90, 100), 1.0));
  for (int i = 1; i <= 3; ++i) {
    double y = r.top() + r.height() * i / 4.5;
    p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 200, 60));
  p.drawEllipse(QPointF(r.right() - 3, r.bottom() - 3), 1.5, 1.5);
}

void DrawFolder(QPainter& p) {
  p.setPen(QPen(QColor(150, 110, 20), 1.5));
  p.setBrush(QColor(250, 210, 90));
  QPainterPath folder;
  folder.moveTo(3, 8);
  folder.lineTo(12, 8);
  folder.lineTo(15, 11);
  folder.lineTo(29, 11);
  folder.lineTo(29, 27);
  folder.lineTo(3, 27);
  folder.closeSubpath();
  p.drawPath(folder);
  // The arrow of a shortcut: a URL that points elsewhere.
  p.setPen(QPen(QColor(20, 80, 200), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(9, 23), QPointF(20, 15));
  p.drawPolyline(QPolygonF({QPointF(14, 15), QPointF(20, 15), QPointF(20, 21)}));
}

void DrawGear(QPainter& p) {
  p.setPen(QPen(QColor(60, 60, 70), 1.2));
  p.setBrush(QColor(170, 175, 190));
  QPainterPath gear;
  const QPointF c(16, 16);
  for (int i = 0; i < 8; ++i) {
    QTransform t;
    t.translate(c.x(), c.y());
    t.rotate(i * 45.0);
    gear.addPolygon(t.map(QPolygonF(QRectF(-3, -14, 6, 8))));
  }
  gear.addEllipse(c, 10, 10);
  gear.setFillRule(Qt::WindingFill);
  p.drawPath(gear.simplified());
  p.setBrush(QColor(250, 250, 250));
  p.drawEllipse(c, 4, 4);
}

void DrawDocument(QPainter& p) {
  p.setPen(QPen(QColor(70, 70, 80), 1.5));
  p.setBrush(Qt::white);
  QPainterPath page;
  page.moveTo(6, 2);
  page.lineTo(20, 2);
  page.lineTo(27, 9);
  page.lineTo(27, 30);
  page.lineTo(6, 30);
  page.closeSubpath();
  p.drawPath(page);
  p.drawPolyline(QPolygonF({QPointF(20, 2), QPointF(20, 9), QPointF(27, 9)}));
  p.setPen(QPen(QColor(200, 60, 40), 2.0));
  for (int y = 14; y <= 26; y += 4) p.drawLine(QPointF(10, y), QPointF(23, y));
}

}  // namespace

QImage MainIconImage(int size) {
  QImage image = Blank(size);
  QPainter p(&image);
  Prepare(p, size);
  DrawGlobe(p, QRectF(1, 1, 24, 24));
  DrawServerBox(p, QRectF(19, 12, 12, 19));
  return image;
}

QImage ListIconImage(int index, int size) {
  QImage image = Blank(size);
  QPainter p(&image);
  Prepare(p, size);
  switch (index) {
    case 0:
      DrawServerBox(p, QRectF(7, 2, 18, 28));
      break;
    case 1:
      DrawFolder(p);
      break;
    case 2:
      DrawGear(p);
      break;
    default:
      DrawDocument(p);
      break;
  }
  return image;
}

QImage AddGlyphImage(int size) {
  QImage image = Blank(size);
  QPainter p(&image);
  Prepare(p, size);
  p.setPen(QPen(QColor(20, 110, 30), 1.5));
  p.setBrush(QColor(60, 180, 70));
  p.drawPolygon(QPolygonF({QPointF(12, 3), QPointF(20, 3), QPointF(20, 12), QPointF(29, 12),
                           QPointF(29, 20), QPointF(20, 20), QPointF(20, 29), QPointF(12, 29),
                           QPointF(12, 20), QPointF(3, 20), QPointF(3, 12), QPointF(12, 12)}));
  return image;
}

const std::string& MainIconPng() {
  static const std::string png = [] {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    MainIconImage(32).save(&buffer, "PNG");
    return bytes.toStdString();
  }();
  return png;
}
