#pragma once
// The filter chain: the ordered filters run on every image, owned here.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filters/dialogs.h"
#include "filters/filter.h"

namespace pv::filters {

class FilterChain {
 public:
  // The chain's filters work on the context's control and source size.
  explicit FilterChain(FilterContext& context) : context_(context) {}

  std::size_t size() const { return filters_.size(); }
  bool empty() const { return filters_.empty(); }
  Filter& at(std::size_t i) { return *filters_.at(i); }
  const Filter& at(std::size_t i) const { return *filters_.at(i); }

  // Appends a new filter of the registry index with its defaults; false
  // outside the registry.
  bool createByIndex(int index);
  // Appends the kind the text form names (resize for an unknown key) and
  // reads the text into it.
  void appendFromText(const std::string& text);
  void remove(const std::set<std::size_t>& positions);
  void clear() { filters_.clear(); }
  // Swaps with the neighbour above (up) or below; false at the ends.
  bool swapWithNeighbour(std::size_t position, bool up);
  void moveToTop(std::size_t position);
  void moveToBottom(std::size_t position);
  // Every filter's text form in chain order.
  std::vector<std::string> texts() const;
  // Applies the first `count` filters (-1: all, 0: none) in order, calling
  // `beforeEach` (when set) before each one: a running job pauses there.
  void apply(int count = -1);
  std::function<void()> beforeEach;
  // The settings editor of one filter: loads the selected image (when one is
  // given; a failed load edits nothing and returns false), previews the chain
  // up to the filter, opens resize, crop and dpi in the program's own dialogs
  // (their values go back through fromText) and every other kind's
  // editSettings, then loads the start-up image again.
  bool editSettings(std::size_t position, const std::string* selectedImage, const std::string& startImage,
                    FilterDialogs& dialogs);

 private:
  FilterContext& context_;
  std::vector<std::unique_ptr<Filter>> filters_;
};

}  // namespace pv::filters
