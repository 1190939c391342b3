#pragma once
// The program's own dialogs of resize, crop and dpi: "Resize Options",
// "Crop Options" (where the rectangle can also be drawn on the picture) and
// "DPI Resolution Options". They edit copies of the values and hand them
// back on OK; the filter's reading rules apply afterwards.

#include <QDialog>
#include <memory>

#include "engine/image.h"
#include "filters/dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace pv::ui {

// A number-only field of at most `digits` digits; text that is no number reads 0.
std::uint32_t numberIn(const QLineEdit* field);

class ResizeDialog final : public QDialog {
  Q_OBJECT
 public:
  ResizeDialog(const filters::ResizeValues& values, QWidget* parent = nullptr);
  filters::ResizeValues values() const;
  QComboBox *method, *unit;
  QLineEdit *width, *height;
  QCheckBox *keepAspect, *noEnlarge;
  QLabel *widthLabel, *heightLabel;

 private:
  void follow();
  int shownUse_ = -1;  // the "Use" the fields' values are in
  QString keptWidth_, keptHeight_;  // the sizes in pixels while a percentage is shown
};

// The picture on which a crop rectangle is drawn with the mouse.
class CropPicture;

class CropDialog final : public QDialog {
  Q_OBJECT
 public:
  CropDialog(const filters::CropValues& values, std::shared_ptr<const engine::Image> source, QWidget* parent = nullptr);
  filters::CropValues values() const;
  // Draws the rectangle from one corner to the other, in the picture's own
  // pixels, as a drag on the picture does.
  void drawRectangle(QPoint from, QPoint to);
  QLineEdit *top, *left, *width, *height;
  CropPicture* picture() const { return picture_; }

 private:
  CropPicture* picture_;
};

class DpiDialog final : public QDialog {
  Q_OBJECT
 public:
  DpiDialog(const filters::DpiValues& values, QWidget* parent = nullptr);
  filters::DpiValues values() const;
  QLineEdit *horizontal, *vertical;
  QCheckBox* identical;
};

}  // namespace pv::ui
