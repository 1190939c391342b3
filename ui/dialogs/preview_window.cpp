#include "ui/dialogs/preview_window.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "app/preview.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

PreviewWindow::PreviewWindow(app::Session& session, int index, Mode mode, QWidget* parent) : QDialog(parent) {
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  setSizeGripEnabled(true);
  resize(640, 480);
  setMouseTracking(false);
  showTitle();
  connect(&worker_, &LatestWorker::ready, this, [this](const QVariantList& pictures) {
    picture_ = pictures.value(0).value<QImage>();
    update();
    emit pictureShown();
  });
  auto snapshot = std::make_shared<app::Session>(session, app::Session::Snapshot{}, true);
  worker_.request([snapshot, index, after = mode == kAfter] {
    const app::PreviewPictures p = app::makePreview(*snapshot, index, {0, 0}, !after, after);
    const auto& picture = after ? p.after : p.before;
    return QVariantList{picture ? toQImage(*picture) : QImage()};
  });
}

void PreviewWindow::showTitle() {
  setWindowTitle(fit_ ? tr("Image Preview [Zoomed: Fit to Window]") : tr("Image Preview [Original Size]"));
}

void PreviewWindow::toggleZoom() {
  fit_ = !fit_;
  zoom_ = 1.0;
  pan_ = {};
  showTitle();
  update();
}

double PreviewWindow::scale() const {
  if (picture_.isNull()) return 1.0;
  if (!fit_) return zoom_;
  return std::min(static_cast<double>(width()) / picture_.width(), static_cast<double>(height()) / picture_.height());
}

void PreviewWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (picture_.isNull()) return;
  const double s = scale();
  const QSizeF size(picture_.width() * s, picture_.height() * s);
  const QPointF topLeft = QPointF((width() - size.width()) / 2, (height() - size.height()) / 2) + pan_;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, s < 1.0);
  painter.drawImage(QRectF(topLeft, size), picture_);
}

void PreviewWindow::mousePressEvent(QMouseEvent* event) {
  pressedAt_ = event->position().toPoint();
  dragged_ = false;
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || fit_) return;
  const QPoint now = event->position().toPoint();
  if (!dragged_ && (now - pressedAt_).manhattanLength() < 4) return;
  // Panning only where the picture is larger than the window, and never past its edges.
  const double s = scale();
  const double roomX = std::max(0.0, (picture_.width() * s - width()) / 2);
  const double roomY = std::max(0.0, (picture_.height() * s - height()) / 2);
  pan_ += QPointF(now - pressedAt_);
  pan_ = {std::clamp(pan_.x(), -roomX, roomX), std::clamp(pan_.y(), -roomY, roomY)};
  pressedAt_ = now;
  dragged_ = true;
  update();
}

void PreviewWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && !dragged_) toggleZoom();
  dragged_ = false;
}

void PreviewWindow::mouseDoubleClickEvent(QMouseEvent*) { accept(); }

void PreviewWindow::wheelEvent(QWheelEvent* event) {
  if (picture_.isNull()) return;
  if (fit_) {
    // Zooming from the fitted picture continues in own-size mode at that scale.
    zoom_ = scale();
    fit_ = false;
    showTitle();
  }
  const double step = event->angleDelta().y() > 0 ? 1.25 : 0.8;
  zoom_ = std::clamp(zoom_ * step, 0.05, 16.0);
  update();
}

}  // namespace pv::ui
