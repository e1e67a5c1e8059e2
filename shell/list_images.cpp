#include "list_images.h"

#include <cmath>
#include <numbers>
#include <string_view>

#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "korinbo/file_io.h"
#include "qt_text.h"

namespace korinbo {
namespace {

QPixmap BlankImage() {
  QPixmap image(kListImageSize, kListImageSize);
  image.fill(Qt::transparent);
  return image;
}

QPixmap StarImage() {
  QPixmap image = BlankImage();
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QPolygonF star;
  const QPointF centre(8.0, 8.4);
  for (int i = 0; i < 10; ++i) {
    const double radius = (i % 2 == 0) ? 7.6 : 3.4;
    const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
    star << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
  }
  painter.setPen(QPen(QColor(0x8a, 0x4b, 0x00), 1.0));
  painter.setBrush(QColor(0xf5, 0xa0, 0x00));
  painter.drawPolygon(star);
  return image;
}

QPixmap RingImage() {
  QPixmap image = BlankImage();
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 2.2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(8.0, 8.0), 5.6, 5.6);
  return image;
}

QPixmap CheckImage() {
  QPixmap image = BlankImage();
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(0x3f, 0x6f, 0x3f), 2.4);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  painter.setPen(pen);
  QPainterPath tick;
  tick.moveTo(2.5, 8.5);
  tick.lineTo(6.5, 12.5);
  tick.lineTo(13.5, 3.5);
  painter.drawPath(tick);
  return image;
}

}  // namespace

ListImages BuiltInListImages() { return {StarImage(), RingImage(), CheckImage()}; }

ListImages LoadListImages(const std::filesystem::path& folder) {
  ListImages images = BuiltInListImages();
  static constexpr std::array<std::string_view, 3> kFileNames = {"new.ico", "unread.ico", "read.ico"};
  for (std::size_t i = 0; i < kFileNames.size(); ++i) {
    const QString file = PathToQString(PathInDirectory(folder, kFileNames[i]));
    QPixmap loaded;
    if (!QFileInfo::exists(file) || !loaded.load(file) || loaded.isNull()) continue;
    if (loaded.size() != QSize(kListImageSize, kListImageSize)) {
      loaded = loaded.scaled(kListImageSize, kListImageSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    images[i] = loaded;
  }
  return images;
}

}  // namespace korinbo
