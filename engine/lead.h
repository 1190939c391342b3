#pragma once
// CLead: the imaging engine as the rest of the program sees it. One instance
// holds one current image; every operation acts on it and returns a status
// (engine/status.h) or a property value. Operations are virtual so that filters
// and formats can be tested against a recording double.
//
// The image model and its operations are being built; an operation that is not
// built yet returns kNotSupported (20016) and never pretends to succeed.

#include <string>

namespace pv::engine {

class CLead {
 public:
  CLead() = default;
  virtual ~CLead() = default;
  CLead(const CLead&) = delete;
  CLead& operator=(const CLead&) = delete;

  // File input: replaces the current image by the file's image. Bits 0 keeps
  // the stored depth, 32 forces 32 bits; page 0 is the default page; page
  // count 1 loads one page, -1 all.
  virtual short LoadImage(const std::string& path, short bits, int page, int pageCount);

  // Properties of the current image (0 while there is none).
  virtual float GetImageWidth();
  virtual float GetImageHeight();

  // Settings of the next save.
  virtual void SetSaveInterlaced(bool on);
  virtual void SetPhotoshopSaveFlag(bool on);

  // Pixel operations.
  virtual short ResizeImage(float width, float height, short flags);

 protected:
  bool saveInterlaced_ = false;
  bool photoshopSave_ = false;
};

}  // namespace pv::engine
