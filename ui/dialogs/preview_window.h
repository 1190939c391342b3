#pragma once
// "Image Preview": the selected image as loaded (before) or after the whole
// chain, at its own size centred on black or fitted to the window. A click
// toggles the two, a double click closes; the wheel zooms and dragging pans
// when the picture is larger than the window. The picture is made once, off
// the window's thread, and kept while the window is open, so a repaint or a
// resize never decodes or filters again.

#include <QDialog>
#include <QPoint>

#include "app/session.h"
#include "ui/jobs/latest_worker.h"

namespace pv::ui {

class PreviewWindow final : public QDialog {
  Q_OBJECT
 public:
  enum Mode { kBefore, kAfter };
  PreviewWindow(app::Session& session, int index, Mode mode, QWidget* parent = nullptr);

  bool zoomed() const { return fit_; }
  void toggleZoom();
  const QImage& picture() const { return picture_; }
  bool busy() const { return worker_.busy(); }
  // The scale the picture is drawn at (fit: what fits the window).
  double scale() const;

 signals:
  void pictureShown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void showTitle();
  LatestWorker worker_;
  QImage picture_;
  bool fit_ = false;
  double zoom_ = 1.0;  // own-size mode: 1 is the picture's own size
  QPointF pan_;        // offset of the picture's centre from the window's
  QPoint pressedAt_;
  bool dragged_ = false;
};

}  // namespace pv::ui
