#pragma once
// Pieces every dialog of the window is made of.

#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QStringList>
#include <initializer_list>
#include <vector>

#include "app/file_types.h"

namespace pv::ui {

// OK and Cancel, wired to the dialog's accept (its own, when it has one) and reject.
QDialogButtonBox* okCancelButtons(QDialog* dialog);

// A titled group with the widgets one under the other.
QGroupBox* groupOf(const QString& title, std::initializer_list<QWidget*> widgets);

// File dialogs' types in Qt's form: each entry's text (translated) with its
// patterns separated by blanks; nameFilter joins them as one filter string.
QStringList nameFilters(const std::vector<app::FileTypeFilter>& types);
QString nameFilter(const std::vector<app::FileTypeFilter>& types);

}  // namespace pv::ui
