#include "ui/dialogs/dialog_parts.h"

#include <QCoreApplication>
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

QStringList nameFilters(const std::vector<app::FileTypeFilter>& types) {
  QStringList out;
  for (const app::FileTypeFilter& f : types) {
    QStringList patterns;
    for (const std::string& p : f.patterns) patterns << QString::fromStdString(p);
    out << QCoreApplication::translate("FileTypes", f.text.c_str()) + " (" + patterns.join(' ') + ")";
  }
  return out;
}

QString nameFilter(const std::vector<app::FileTypeFilter>& types) {
  return nameFilters(types).join(";;");
}

}  // namespace pv::ui
