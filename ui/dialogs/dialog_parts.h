#pragma once
// Pieces every dialog of the window is made of.

#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <initializer_list>

namespace pv::ui {

// OK and Cancel, wired to the dialog's accept (its own, when it has one) and reject.
QDialogButtonBox* okCancelButtons(QDialog* dialog);

// A titled group with the widgets one under the other.
QGroupBox* groupOf(const QString& title, std::initializer_list<QWidget*> widgets);

}  // namespace pv::ui
