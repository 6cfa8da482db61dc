// The failed driver's picture (failure_picture.h), drawn with Qt's painter into an image: the painter may draw
// into an image on any thread, which the driver thread needs.
#include "failure_picture.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>

bool DrawFailurePicture(const std::string& text, int width, int height, std::vector<uint8_t>& dib) {
  if (!QGuiApplication::instance() || width <= 0 || height <= 0) return false;
  QImage image(width, height, QImage::Format_RGB888);
  image.fill(Qt::black);
  {
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(std::max(10, height / 20));
    painter.setFont(font);
    painter.setPen(Qt::white);
    const int margin = std::max(4, width / 20);
    painter.drawText(QRect(margin, margin, width - 2 * margin, height - 2 * margin),
                     Qt::AlignCenter | Qt::TextWordWrap, QString::fromStdString(text));
  }
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  dib.assign(stride * static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    const uchar* from = image.constScanLine(y);
    uint8_t* to = dib.data() + stride * static_cast<size_t>(height - 1 - y);  // bottom-up
    for (int x = 0; x < width; ++x) {
      to[x * 3] = from[x * 3 + 2];
      to[x * 3 + 1] = from[x * 3 + 1];
      to[x * 3 + 2] = from[x * 3];
    }
  }
  return true;
}
