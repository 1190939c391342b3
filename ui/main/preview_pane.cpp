#include "ui/main/preview_pane.h"

#include <QMouseEvent>
#include <QPainter>

namespace pv::ui {

void PreviewPane::setPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (picture_.isNull()) return;
  const app::PaneSize r = room();
  // Pictures are made to fit; one that is larger (a filter that enlarges) is scaled down here.
  const QImage shown = picture_.width() > r.width || picture_.height() > r.height
                           ? picture_.scaled(r.width, r.height, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                           : picture_;
  painter.drawImage((r.width - shown.width()) / 2, (r.height - shown.height()) / 2, shown);
}

void PreviewPane::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

}  // namespace pv::ui
