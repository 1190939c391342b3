#include "ui/dialogs/dialog_parts.h"

#include <QVBoxLayout>

namespace pv::ui {

QDialogButtonBox* okCancelButtons(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  // accept is virtual: a dialog's own check runs.
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

QGroupBox* groupOf(const QString& title, std::initializer_list<QWidget*> widgets) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  for (QWidget* w : widgets) layout->addWidget(w);
  return box;
}

}  // namespace pv::ui
