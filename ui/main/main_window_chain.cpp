// The main window's filter chain: its list, the settings editor of a filter,
// and adding, removing, clearing and moving filters.
#include "filters/filter.h"
#include "ui/dialogs/dialog_parts.h"
#include "ui/filter_forms/settings_form.h"
#include "ui/main/main_window.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

std::set<std::size_t> MainWindow::selectedFilters() const {
  std::set<std::size_t> out;
  for (const QModelIndex& i : filters_->selectionModel()->selectedRows())
    out.insert(static_cast<std::size_t>(i.row()));
  return out;
}

void MainWindow::refreshFilters(int select) {
  filters_->clear();
  for (std::size_t i = 0; i < session_.chain.size(); ++i)
    filters_->addItem(tableText("Filters", session_.chain.at(i).name));
  if (select >= 0 && select < filters_->count()) filters_->setCurrentRow(select);
  rebuildPreviews();
}

void MainWindow::configureFilter() {
  const std::set<std::size_t> chosen = selectedFilters();
  if (chosen.empty()) {
    prompter_.information(session_.settings.caption, session_.chain.size() == 0 ? kNoFiltersText
                                                                                : kNoFilterSelectedText);
    return;
  }
  const std::size_t position = *chosen.begin();
  // The form shows the selected image as the chain ahead of the filter leaves it.
  const std::string selected =
      selected_ >= 0 ? session_.list[static_cast<std::size_t>(selected_)].path() : "";
  session_.currentEntry = selected_;
  try {
    session_.chain.editSettings(position, selected_ >= 0 ? &selected : nullptr, session_.settings.dataDatPath,
                                *forms_);
  } catch (const std::exception& e) {
    prompter_.error(session_.settings.caption, e.what());
  }
  session_.currentEntry = -1;
  refreshFilters(static_cast<int>(position));
}

void MainWindow::addFilter(int registryIndex) {
  if (!session_.chain.createByIndex(registryIndex)) return;
  const int last = static_cast<int>(session_.chain.size()) - 1;
  filters::giveNewFilterValues(session_.chain.at(static_cast<std::size_t>(last)));
  refreshFilters(last);
  if (session_.chain.at(static_cast<std::size_t>(last)).hasSettings == 1) run(kFilterOptions);
}

void MainWindow::removeSelectedFilters() {
  const std::set<std::size_t> chosen = selectedFilters();
  if (chosen.empty()) return;
  session_.chain.remove(chosen);
  refreshFilters();
}

void MainWindow::clearFilters() {
  if (session_.chain.empty()) return;
  if (!prompter_.askYesNo(session_.settings.caption, kClearFiltersQuestion)) return;
  session_.chain.clear();
  refreshFilters();
}

void MainWindow::moveFilter(Command how) {
  const std::set<std::size_t> chosen = selectedFilters();
  if (chosen.empty()) return;
  const std::size_t at = *chosen.begin(), last = session_.chain.size() - 1;
  std::size_t to = at;
  switch (how) {
    case kMoveUp:
      if (session_.chain.swapWithNeighbour(at, true)) to = at - 1;
      break;
    case kMoveDown:
      if (session_.chain.swapWithNeighbour(at, false)) to = at + 1;
      break;
    case kMoveTop:
      session_.chain.moveToTop(at);
      to = 0;
      break;
    case kMoveBottom:
      session_.chain.moveToBottom(at);
      to = last;
      break;
    default:
      return;
  }
  if (to == at) return;
  refreshFilters(static_cast<int>(to));
}

}  // namespace pv::ui
