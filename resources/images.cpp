#include "resources/images.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "resources/resource.h"

namespace {

// The three header check-box images: blank, unchecked, checked. 256 colours; magenta is the mask.
QImage MakeCheckBoxStrip() {
  enum Index : uchar { Magenta, OuterShadow, InnerShadow, InnerLight, White };
  QImage strip(48, 16, QImage::Format_Indexed8);
  strip.setColorTable(
      {qRgb(255, 0, 255), qRgb(134, 134, 134), qRgb(4, 4, 4), qRgb(192, 192, 192), qRgb(255, 255, 255)});
  strip.fill(Magenta);

  for (int image = 1; image <= 2; ++image) {
    const int left = image * 16 + 3;
    const int top = 2;
    // A 13x13 sunken box: the shadow sides stop one pixel short of the far corner,
    // where the light sides take over.
    for (int i = 0; i < 13; ++i) {
      for (int j = 0; j < 13; ++j) {
        uchar colour = White;
        const bool outer = i == 0 || j == 0 || i == 12 || j == 12;
        const bool inner = !outer && (i == 1 || j == 1 || i == 11 || j == 11);
        if (outer) {
          colour = (i == 12 || j == 12) ? White : OuterShadow;
        } else if (inner) {
          colour = (i == 11 || j == 11) ? InnerLight : InnerShadow;
        }
        strip.setPixel(left + j, top + i, colour);
      }
    }
    if (image == 2) {
      // A check mark seven columns wide on the 9x9 face, each column three pixels tall.
      constexpr int kTops[7] = {2, 3, 4, 3, 2, 1, 0};
      const int faceLeft = left + 2;
      const int faceTop = top + 2;
      for (int column = 0; column < 7; ++column) {
        for (int k = 0; k < 3; ++k) strip.setPixel(faceLeft + 1 + column, faceTop + 2 + kTops[column] + k, InnerShadow);
      }
    }
  }
  return strip;
}

QPainterPath ShieldPath(const QRectF& r) {
  QPainterPath path;
  path.moveTo(r.center().x(), r.top());
  path.lineTo(r.right(), r.top() + r.height() * 0.18);
  path.cubicTo(r.right(), r.top() + r.height() * 0.62, r.center().x() + r.width() * 0.2, r.bottom() - r.height() * 0.1,
               r.center().x(), r.bottom());
  path.cubicTo(r.center().x() - r.width() * 0.2, r.bottom() - r.height() * 0.1, r.left(), r.top() + r.height() * 0.62,
               r.left(), r.top() + r.height() * 0.18);
  path.closeSubpath();
  return path;
}

void DrawShield(QPainter& p, const QRectF& r, QColor fill) {
  p.setPen(QPen(QColor(255, 255, 255), r.width() / 14.0));
  p.setBrush(fill);
  p.drawPath(ShieldPath(r));
  QPen tick(QColor(255, 255, 255), r.width() / 8.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(tick);
  p.setBrush(Qt::NoBrush);
  QPainterPath mark;
  mark.moveTo(r.left() + r.width() * 0.3, r.top() + r.height() * 0.5);
  mark.lineTo(r.left() + r.width() * 0.46, r.top() + r.height() * 0.66);
  mark.lineTo(r.left() + r.width() * 0.72, r.top() + r.height() * 0.34);
  p.drawPath(mark);
}

QImage Canvas(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QImage ShieldImage(int size) {
  QImage image = Canvas(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal m = size / 16.0;
  DrawShield(p, QRectF(2 * m, m, size - 4 * m, size - 2 * m), QColor(28, 92, 170));
  return image;
}

// Tree icons: a whole packet, a header of it, one field of a header.
QImage MakePacketIcon() {
  QImage image = Canvas(16);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(120, 70, 10), 1));
  p.setBrush(QColor(240, 170, 60));
  p.drawRoundedRect(QRectF(1.5, 3.5, 13, 9), 1.5, 1.5);
  p.drawLine(QPointF(1.5, 4.5), QPointF(8, 9));
  p.drawLine(QPointF(14.5, 4.5), QPointF(8, 9));
  return image;
}

QImage MakeHeaderIcon() {
  QImage image = Canvas(16);
  QPainter p(&image);
  p.setPen(QPen(QColor(30, 70, 140), 1));
  p.setBrush(QColor(200, 220, 250));
  p.drawRect(QRectF(2.5, 1.5, 11, 13));
  p.setPen(QPen(QColor(30, 70, 140), 1));
  for (int y = 4; y <= 12; y += 3) p.drawLine(QPointF(4.5, y + 0.5), QPointF(11.5, y + 0.5));
  return image;
}

QImage MakeFieldIcon() {
  QImage image = Canvas(16);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 110, 40), 1));
  p.setBrush(QColor(110, 200, 110));
  p.drawEllipse(QRectF(4.5, 4.5, 7, 7));
  return image;
}

// The banner strip: 468x60 at 16 bits per pixel.
QImage MakeBanner() {
  QImage banner(468, 60, QImage::Format_RGB16);
  QPainter p(&banner);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 468, 0);
  background.setColorAt(0, QColor(14, 50, 104));
  background.setColorAt(1, QColor(44, 112, 190));
  p.fillRect(banner.rect(), background);
  DrawShield(p, QRectF(14, 8, 38, 44), QColor(28, 92, 170));

  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(26);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRect(66, 6, 390, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Brenvo"));
  QFont line(QStringLiteral("DejaVu Sans"));
  line.setPixelSize(12);
  p.setFont(line);
  p.setPen(QColor(200, 222, 250));
  p.drawText(QRect(67, 36, 390, 18), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Firewall, open ports and live TCP traffic, in one window"));
  return banner;
}

}  // namespace

QImage LoadBitmapResource(int id) {
  switch (id) {
    case IDB_BANNER: return MakeBanner();
    case IDB_CHECKBOXES: return MakeCheckBoxStrip();
    default: return {};
  }
}

QImage ApplicationIconImage(int size) { return ShieldImage(size); }

QIcon LoadIconResource(int id) {
  QIcon icon;
  switch (id) {
    case IDR_MAINFRAME:
      icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(16)));
      icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(32)));
      icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(48)));
      break;
    case IDI_PACKET: icon.addPixmap(QPixmap::fromImage(MakePacketIcon())); break;
    case IDI_HEADER: icon.addPixmap(QPixmap::fromImage(MakeHeaderIcon())); break;
    case IDI_FIELD: icon.addPixmap(QPixmap::fromImage(MakeFieldIcon())); break;
    default: break;
  }
  return icon;
}

QString LoadStringResource(int id) {
  if (id == IDS_ABOUTBOX) return QStringLiteral("&About Brenvo...");
  return {};
}
