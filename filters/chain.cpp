#include "filters/chain.h"

#include <algorithm>
#include <initializer_list>

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

namespace {

std::string textOf(const std::string& key, std::initializer_list<std::uint32_t> values) {
  std::string text = "/filter " + key;
  for (std::uint32_t v : values) text += " " + std::to_string(v);
  return text;
}

}  // namespace

bool FilterChain::editSettings(std::size_t position, const std::string* selectedImage,
                               const std::string& startImage, FilterDialogs& dialogs) {
  if (position >= filters_.size() || !context_.lead) return false;
  engine::CLead& lead = *context_.lead;
  if (selectedImage && lead.LoadImage(*selectedImage, 0, 0, 1) != 0) return false;
  apply(static_cast<int>(position));
  Filter& f = *filters_[position];
  const auto u = [&](std::size_t i) { return static_cast<std::uint32_t>(f.value(i)); };
  try {
    switch (f.type) {
      case 0: {
        ResizeValues v{u(0), u(1), u(2), u(3), f.value(4) != 0, f.value(5) != 0};
        if (dialogs.editResize(v))
          f.fromText(textOf(
              f.key, {v.method, v.unit, v.width, v.height, v.keepAspect ? 1u : 0u, v.noEnlarge ? 1u : 0u}));
        break;
      }
      case 4: {
        CropValues v{u(0), u(1), u(2), u(3)};
        if (dialogs.editCrop(v)) f.fromText(textOf(f.key, {v.top, v.left, v.width, v.height}));
        break;
      }
      case 13: {
        DpiValues v{u(0), u(1)};
        if (dialogs.editDpi(v)) f.fromText(textOf(f.key, {v.horizontal, v.vertical}));
        break;
      }
      default:
        f.editSettings();
    }
  } catch (...) {
    // The start-up image comes back whatever happened in the dialog.
    static_cast<void>(lead.LoadImage(startImage, 0, 0, 1));
    throw;
  }
  static_cast<void>(lead.LoadImage(startImage, 0, 0, 1));
  return true;
}

}  // namespace pv::filters
