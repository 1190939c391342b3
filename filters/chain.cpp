#include "filters/chain.h"

#include <algorithm>

#include "engine/lead.h"

namespace pv::filters {

bool FilterChain::createByIndex(int index) {
  auto filter = createFilter(index, context_);
  if (!filter) return false;
  filters_.push_back(std::move(filter));
  return true;
}

void FilterChain::appendFromText(const std::string& text) {
  createByIndex(filterIndexOfText(text));
  filters_.back()->fromText(text);
}

void FilterChain::remove(const std::set<std::size_t>& positions) {
  // From the back, so earlier positions stay valid.
  for (auto it = positions.rbegin(); it != positions.rend(); ++it)
    if (*it < filters_.size()) filters_.erase(filters_.begin() + static_cast<std::ptrdiff_t>(*it));
}

bool FilterChain::swapWithNeighbour(std::size_t position, bool up) {
  if (position >= filters_.size() || (up && position == 0) || (!up && position + 1 >= filters_.size()))
    return false;
  std::swap(filters_[position], filters_[up ? position - 1 : position + 1]);
  return true;
}

void FilterChain::moveToTop(std::size_t position) {
  if (position < filters_.size())
    std::rotate(filters_.begin(), filters_.begin() + static_cast<std::ptrdiff_t>(position),
                filters_.begin() + static_cast<std::ptrdiff_t>(position) + 1);
}

void FilterChain::moveToBottom(std::size_t position) {
  if (position < filters_.size())
    std::rotate(filters_.begin() + static_cast<std::ptrdiff_t>(position),
                filters_.begin() + static_cast<std::ptrdiff_t>(position) + 1, filters_.end());
}

std::vector<std::string> FilterChain::texts() const {
  std::vector<std::string> out;
  for (const auto& f : filters_) out.push_back(f->toText());
  return out;
}

void FilterChain::apply(int count) {
  const std::size_t n =
      count < 0 ? filters_.size() : std::min<std::size_t>(filters_.size(), static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < n; ++i) {
    if (beforeEach) beforeEach();
    filters_[i]->apply();
  }
}

bool FilterChain::editSettings(std::size_t position, const std::string* selectedImage,
                               const std::string& startImage, FilterDialogs& dialogs) {
  if (position >= filters_.size() || !context_.lead) return false;
  engine::CLead& lead = *context_.lead;
  if (selectedImage && lead.LoadImage(*selectedImage, 0, 0, 1) != 0) return false;
  apply(static_cast<int>(position));
  Filter& f = *filters_[position];
  try {
    if (f.kind().editOwn)
      f.kind().editOwn(f, dialogs);
    else
      f.editSettings();
  } catch (...) {
    // The start-up image comes back whatever happened in the dialog.
    static_cast<void>(lead.LoadImage(startImage, 0, 0, 1));
    throw;
  }
  static_cast<void>(lead.LoadImage(startImage, 0, 0, 1));
  return true;
}

}  // namespace pv::filters
