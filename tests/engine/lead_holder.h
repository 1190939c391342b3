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
  // Several pages, as a load of all pages leaves them.
  void setPages(const std::vector<cv::Mat>& pages, int bits) {
    doc_->pages.assign(pages.size(), engine::Image{});
    for (std::size_t i = 0; i < pages.size(); ++i) {
      doc_->pages[i].pixels = pages[i].clone();
      doc_->pages[i].bits = bits;
    }
    doc_->current = 0;
  }
  std::size_t pageCount() const { return doc_->pages.size(); }
  const engine::Image& image() { return *doc_->image(); }
  const cv::Mat& pixels() { return doc_->image()->pixels; }
};

}  // namespace pv::test
