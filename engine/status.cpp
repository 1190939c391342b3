#include "engine/status.h"

#include <opencv2/core.hpp>

namespace pv::engine {

short statusOf(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return kOutOfMemory;
  // OpenCV reports a buffer it could not allocate with an exception of its own.
  if (const auto* cv = dynamic_cast<const cv::Exception*>(&e); cv && cv->code == cv::Error::StsNoMem)
    return kOutOfMemory;
  return kUnspecified;
}

}  // namespace pv::engine
