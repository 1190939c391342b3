#include "ui/main/preview_pane.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/models/image_list_model.h"

namespace pv::ui {

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
