#pragma once
// "Add Filter": every kind in registry order, each row 60 pixels high with
// a picture of what the filter does (one sample picture run through the
// filter with its defaults, made off the window's thread once and kept), the
// name in bold and the two description lines. Double click acts as OK.

#include <QDialog>

#include "app/ports.h"
#include "ui/dialogs/dialog_parts.h"
#include "ui/jobs/latest_worker.h"

namespace pv::ui {

inline constexpr const char* kSelectFilterText =
    QT_TRANSLATE_NOOP("Messages", "Please select the filter you want to apply.");

class AddFilterDialog final : public QDialog {
  Q_OBJECT
 public:
  AddFilterDialog(app::Prompter& prompter, const std::string& caption, QWidget* parent = nullptr);
  void accept() override;
  // The registry index chosen, -1 for none.
  int chosen() const { return chosen_; }
  HeadedList* list() const { return list_; }
  // The filters' pictures (empty until they are made).
  static const QList<QImage>& icons();
  bool iconsPending() const { return worker_.busy(); }

 signals:
  void iconsShown();

 private:
  app::Prompter& prompter_;
  std::string caption_;
  HeadedList* list_;
  LatestWorker worker_;
  int chosen_ = -1;
};

// The sample picture the filters' pictures are made from: a small landscape.
QImage filterSamplePicture();

}  // namespace pv::ui
