#pragma once
// Image and region handles: small integer ids for images that CLead hands out
// (GetImageHandle, GetAlphaImage, GetRegionHandle, MakeGdiBitmap). An id is
// unique in the process, so a handle from one instance can be given to
// another, as transparency flattening does between its two controls. The
// instance that made a handle releases it when it makes the next one of the
// same kind or is destroyed; a bitmap from MakeGdiBitmap belongs to the caller,
// who takes it out with takeHandle.

#include <memory>

#include "engine/image.h"

namespace pv::engine::handles {

// A new handle for a copy of the image (a region is a 1-channel mask, 255
// inside). Never 0.
int create(Image image);
// The image behind a handle; null for 0, a released or an unknown handle.
std::shared_ptr<const Image> find(int handle);
void release(int handle);
// Finds and releases in one step.
std::shared_ptr<const Image> take(int handle);

}  // namespace pv::engine::handles
