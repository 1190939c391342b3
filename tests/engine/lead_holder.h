#pragma once
// A CLead whose current image a test can set and inspect directly.

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/image.h"
#include "engine/lead.h"

namespace pv::test {

class LeadWithImage : public engine::CLead {
 public:
  void set(const cv::Mat& pixels, int bits, std::vector<std::uint32_t> palette = {}) {
    doc_->pages.assign(1, engine::Image{});
    doc_->pages[0].pixels = pixels.clone();
    doc_->pages[0].bits = bits;
    doc_->pages[0].palette = std::move(palette);
    doc_->current = 0;
  }
  const engine::Image& image() { return *doc_->image(); }
  const cv::Mat& pixels() { return doc_->image()->pixels; }
};

}  // namespace pv::test
