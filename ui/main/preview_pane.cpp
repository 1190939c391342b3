#include "ui/main/preview_pane.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace pv::ui {

void drawPictureInBox(QPainter* painter, QImage picture, const QRect& box) {
  if (picture.isNull() || box.isEmpty()) return;
  // The picture's density: made for a box `density` times the logical one
  // (1 on a plain screen, 2 for a thumbnail made at a ratio of 2); never
  // below 1, so a small picture is not enlarged.
  const qreal density =
      std::max({qreal(1), qreal(picture.width()) / box.width(), qreal(picture.height()) / box.height()});
  // Pixels beyond what the screen shows are smoothed away first.
  const qreal screen = std::max(qreal(1), painter->device()->devicePixelRatioF());
  if (density > screen * 1.01) {
    picture = picture.scaled((QSizeF(box.size()) * screen).toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    picture.setDevicePixelRatio(std::max(
        {qreal(1), qreal(picture.width()) / box.width(), qreal(picture.height()) / box.height()}));
  } else {
    picture.setDevicePixelRatio(density);
  }
  const QSizeF shown = picture.deviceIndependentSize();
  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  painter->drawImage(QPointF(box.left() + (box.width() - shown.width()) / 2, box.top() + (box.height() - shown.height()) / 2),
                     picture);
  painter->restore();
}

void PreviewPane::setPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (picture_.isNull()) return;
  // Pictures are made to fit in device pixels; one that is larger (a filter
  // that enlarges) is scaled down here.
  const app::PaneSize r = room();
  drawPictureInBox(&painter, picture_, QRect(0, 0, r.width, r.height));
}

void PreviewPane::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

}  // namespace pv::ui
