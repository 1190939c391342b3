#pragma once
// A pane of the main window and its dialogs: black, with a picture centred
// on it (a larger one is scaled down to fit); a double click opens the
// preview.

#include <QImage>
#include <QWidget>
#include <algorithm>

#include "app/preview.h"

class QPainter;

namespace pv::ui {

// Draws `picture` centred in `box` (logical pixels), as large as fits with
// its proportions and at most at its own size, using every pixel it has on a
// high-density screen: a thumbnail made at twice the box is drawn sharp at a
// device pixel ratio of 2.
void drawPictureInBox(QPainter* painter, QImage picture, const QRect& box);

// One pane: black, with the picture centred on it; a double click with the
// left button opens the preview.
class PreviewPane final : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  void setPicture(const QImage& picture);
  const QImage& picture() const { return picture_; }
  // The room a picture may take: the pane less 4 pixels at the right and bottom.
  app::PaneSize room() const { return {std::max(1, width() - 4), std::max(1, height() - 4)}; }
  // `logical` in the screen's device pixels: the size to make a picture at so
  // that it is drawn sharp on a high-density screen.
  app::PaneSize inPixels(app::PaneSize logical) const {
    const double ratio = devicePixelRatioF();
    return {std::max(1, static_cast<int>(logical.width * ratio)), std::max(1, static_cast<int>(logical.height * ratio))};
  }
  app::PaneSize pixelRoom() const { return inPixels(room()); }

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace pv::ui
