#pragma once
// CLead: the imaging engine as the rest of the program sees it. One instance
// holds one current image; every operation acts on it and returns a status
// (engine/status.h: 0 success) or a property value. Instances share nothing,
// so several can work on several threads. Operations are virtual so that
// filters and formats can be tested against a recording double.
//
// Types follow the program's conventions: short for 16-bit values and
// statuses, int for 32-bit values, colours and handles (colours 0x00BBGGRR),
// float for pixel sizes. An operation that is not built yet returns
// kNotSupported (20016) and never pretends to succeed.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <utility>
#include <vector>
#include "engine/metadata.h"
#include "engine/outputs.h"

namespace pv::engine {

struct Document;
struct Image;
struct PageWriter;
struct PageReader;
namespace codecs {
struct Codec;
struct FileInfo;
}  // namespace codecs

// Where CopyToClipboard puts the image; the program adapts its clipboard to it.
class ClipboardTarget {
 public:
  virtual ~ClipboardTarget() = default;
  // False when the clipboard did not take the image.
  virtual bool putImage(const Image& image) = 0;
};

class CLead {
 public:
  CLead();
  virtual ~CLead();
  CLead(const CLead&) = delete;
  CLead& operator=(const CLead&) = delete;

  // File input and output.
  [[nodiscard]] virtual short ReadFileInfo(const std::string& path, int page, int flags);
  [[nodiscard]] virtual short GetInfoBits();
  [[nodiscard]] virtual short GetInfoFormat();
  // The file's width in pixels: the interface names it after the number of
  // the info value that holds it (value 44).
  virtual int GetInfoValue44();
  virtual int GetInfoPageCount();
  [[nodiscard]] virtual short ReadFileResolutions(const std::string& path);
  [[nodiscard]] virtual short GetResolutionCount();
  virtual float GetResolutionWidth(short index);
  virtual float GetResolutionHeight(short index);
  [[nodiscard]] virtual short SetLoadResolution(short formatCode, float width, float height);
  // Bits 0 keeps the stored depth, 32 forces 32 bits; page 0 is the default
  // page; page count 1 loads one page, -1 all.
  [[nodiscard]] virtual short LoadImage(const std::string& path, short bits, int page, int pageCount);
  [[nodiscard]] virtual short SaveImage(const std::string& path, short formatCode, short bits, short quality,
                                        short pageMode);
  [[nodiscard]] virtual short CopyToClipboard(short flags);
  virtual void SetPageNumber(short page);
  virtual void SetSavePasses(short passes);
  virtual void SetSaveInterlaced(bool on);
  virtual void SetPhotoshopSaveFlag(bool on);
  virtual void SetAutoRepaint(bool on);
  // Not an operation of the control: how this instance reaches the clipboard
  // (none: CopyToClipboard returns 20016).
  void SetClipboardTarget(ClipboardTarget* target) { clipboard_ = target; }
  // Not operations of the control either: the next LoadImage may decode at a
  // reduced scale that still covers width x height of the image as loaded
  // (upright, when auto-orient turns it; JPEG only: the listing's thumbnails,
  // the window's panes and a conversion whose chain starts by shrinking ask
  // for it), and the reduction the last load used, 1 for the file's own size.
  // The file's own size stays in GetInfoValue44 (width) and GetInfoHeight, and
  // in GetUprightFileSize as the loaded image stands (sides swapped when
  // auto-orient turned it a quarter).
  void SetLoadAtLeast(int width, int height) {
    atLeastWidth_ = width > 0 ? width : 0;
    atLeastHeight_ = height > 0 ? height : 0;
  }
  int GetLoadScale() const { return loadScale_; }
  std::pair<int, int> GetUprightFileSize() const { return uprightFileSize_; }
  // Loads turn photos upright by their EXIF orientation (off unless asked);
  // saves write EXIF, XMP and IPTC into outputs that hold them (on unless
  // switched off; the colour profile is kept either way). What went wrong
  // with a file's metadata (it is then dropped, never the image) is told by
  // GetMetadataProblem until the next load.
  // Where a save's file goes (not operations of the control either): every
  // save writes a temporary file beside its target and gives it the name
  // when it is whole, metadata included. By default it replaces what is
  // under the name; a placement that does not replace never overwrites a
  // file and asks for another name while the name is taken. GetSavedPath is
  // the name the last save or EndPages wrote.
  void SetSavePlacement(Placement placement) { placement_ = std::move(placement); }
  // A size limit for the next saves of one image (SaveImage of a new file;
  // a limit of 0 bytes turns it off): the image is encoded in memory at most
  // kMaxSizeEncodes times, from the save's quality towards the limit's worst
  // (engine/outputs.h). GetSizeOutcome tells what the last such save wrote;
  // empty after a save without a limit.
  void SetSaveSizeLimit(SizeLimit limit) { sizeLimit_ = limit; }
  const std::optional<SizeOutcome>& GetSizeOutcome() const { return sizeOutcome_; }
  const std::string& GetSavedPath() const { return savedPath_; }
  // A file of several pages written one page at a time: StartPages names it
  // and how it is saved, AddPage adds the current image as its next page,
  // and EndPages gives the whole file its name (keep) or leaves no trace.
  // Nothing is seen under the name before EndPages. Formats written page by
  // page hold at most a page; the others hold every page until the end,
  // counted by GetHeldPixels.
  [[nodiscard]] virtual short StartPages(const std::string& path, short formatCode, short bits,
                                         short quality);
  [[nodiscard]] virtual short AddPage();
  [[nodiscard]] virtual short EndPages(bool keep);
  double GetHeldPixels() const;
  void SetAutoOrient(bool on) { autoOrient_ = on; }
  void SetKeepMetadata(bool on) { keepMetadata_ = on; }
  // Off: images are loaded without their GPS location (the rest kept).
  void SetKeepLocation(bool on) { keepLocation_ = on; }
  const std::string& GetMetadataProblem() const { return metadataProblem_; }
  // When the current image was taken and by which camera, from its EXIF
  // (empty where it has none).
  PhotoFacts GetPhotoFacts();
  // Whether some pixel of the current image is not fully opaque: alpha below
  // 255 somewhere (an alpha channel may be all opaque).
  bool GetHasTransparency();
  int GetInfoHeight() const { return info_.height; }

  // Image properties (0 while there is no current image).
  virtual float GetImageWidth();
  virtual float GetImageHeight();
  virtual float GetDisplayWidth();
  virtual float GetDisplayHeight();
  [[nodiscard]] virtual short GetDisplayBits();
  virtual void SetImageXResolution(short dpi);
  virtual void SetImageYResolution(short dpi);
  virtual void SetUnequalResolution(bool on);
  virtual int GetImageHandle();
  virtual void SetImageHandle(int handle);
  virtual int GetDrawContext();
  // A 32-bit bitmap of the current image for drawing (the interface's name
  // for it); the caller owns the handle it returns.
  virtual int MakeGdiBitmap(int drawContext);

  // Transparency and regions.
  virtual bool GetHasAlpha();
  virtual int GetAlphaImage();
  virtual bool GetUseTransparentColor();
  virtual void SetUseTransparentColor(bool on);
  virtual int GetTransparentColor();
  virtual void SetTransparentColor(int colour);
  virtual bool GetHasRegion();
  [[nodiscard]] virtual short SetRegionByColor(int colour, short combineMode);
  virtual int GetRegionHandle();
  [[nodiscard]] virtual short SetRegionFromHandle(int region, float x, float y, short combineMode);
  [[nodiscard]] virtual short FillImage(int colour);
  [[nodiscard]] virtual short FreeRegion();

  // Pixel operations.
  [[nodiscard]] virtual short ResizeImage(float width, float height, short flags);
  [[nodiscard]] virtual short TrimImage(float left, float top, float width, float height);
  [[nodiscard]] virtual short ReduceColors(short bits, short palette, short dither, short colours);
  [[nodiscard]] virtual short AverageFilter(short n);
  [[nodiscard]] virtual short MedianFilter(short n);
  [[nodiscard]] virtual short ChangeContrast(short n);
  [[nodiscard]] virtual short FlipImage();
  [[nodiscard]] virtual short ChangeHue(short degrees);
  [[nodiscard]] virtual short ChangeIntensity(short n);
  [[nodiscard]] virtual short InvertImage();
  [[nodiscard]] virtual short SharpenImage(short n);
  [[nodiscard]] virtual short ChangeSaturation(short n);
  [[nodiscard]] virtual short MirrorImage();
  [[nodiscard]] virtual short MosaicFilter(short n);
  [[nodiscard]] virtual short SpatialFilter(short code);
  [[nodiscard]] virtual short PosterizeImage(short levels);
  [[nodiscard]] virtual short RotateImage(int angle, short flags, int fill);
  [[nodiscard]] virtual short EmbossImage(short direction, short depth);
  [[nodiscard]] virtual short AddNoise(short range, short channel);
  [[nodiscard]] virtual short IntensityDetect(short low, short high);
  [[nodiscard]] virtual short StretchIntensity();
  [[nodiscard]] virtual short GammaCorrect(short gamma);
  [[nodiscard]] virtual short ShearImage(short angle, bool horizontal, int fill);
  [[nodiscard]] virtual short HalftoneImage(short pattern, int angle, short size);
  [[nodiscard]] virtual short HistoContrast(short n);
  [[nodiscard]] virtual short SolarizeImage(short threshold);
  [[nodiscard]] virtual short AutoTrimImage(short threshold);
  [[nodiscard]] virtual short OilifyImage(short n);
  [[nodiscard]] virtual short GaussianBlur(short radius);
  [[nodiscard]] virtual short UnsharpMask(short amount, short radius, short threshold, short space);
  [[nodiscard]] virtual short GrayScaleWeighted(short red, short green, short blue);
  [[nodiscard]] virtual short BalanceColors(float m1, float m2, float m3, float m4, float m5, float m6,
                                            float m7, float m8, float m9);
  [[nodiscard]] virtual short EdgeDetect(short threshold, short kind);
  [[nodiscard]] virtual short MotionBlur(short length, int angle, bool oneWay);

 protected:
  // Page `page` of a file whose codec reads pages one after another, going on
  // from the page loaded before it where it can.
  short loadInTurn(const codecs::FileInfo& info, const std::string& path, int page, Document& doc);
  // True, with the facts it keeps, when a reader is reading `path` as it is now.
  bool readingInTurn(const std::string& path, codecs::FileInfo& info) const;
  // Writes into `file` the best encode within the size limit, from `quality`
  // on (searchQuality), the trials encoded in memory.
  short encodeWithin(const std::string& file, int quality,
                     const std::function<short(const std::string&, int)>& encode, SizeOutcome& out);
  // The current image with all its loaded pages, and the facts of the last
  // inspected file and the settings of the next save.
  std::unique_ptr<Document> doc_;
  // The current image, or the no-image status (kInvalidParameter) with null.
  short current(Image*& img);
  short current(const Image*& img);
  struct Info {
    short bits = 0;
    short format = 0;
    int value44 = 0;  // the file's width (GetInfoValue44)
    int pageCount = 0;
    int height = 0;
  } info_;
  int atLeastWidth_ = 0, atLeastHeight_ = 0;
  int loadScale_ = 1;
  std::pair<int, int> uprightFileSize_{0, 0};
  // Resolutions listed by ReadFileResolutions, and the one SetLoadResolution
  // asked for (format 0: none).
  std::vector<std::pair<float, float>> resolutions_;
  short loadResolutionFormat_ = 0;
  float loadWidth_ = 0, loadHeight_ = 0;
  // The handles this instance made last, released when replaced.
  int imageHandle_ = 0, alphaHandle_ = 0, regionHandle_ = 0;
  ClipboardTarget* clipboard_ = nullptr;
  short savePasses_ = 0;
  bool saveInterlaced_ = false;
  bool photoshopSave_ = false;
  bool autoRepaint_ = true;
  bool autoOrient_ = false, keepMetadata_ = true, keepLocation_ = true;
  std::string metadataProblem_;
  Placement placement_;
  SizeLimit sizeLimit_;
  std::optional<SizeOutcome> sizeOutcome_;
  std::string savedPath_;
  std::unique_ptr<PageWriter> pages_;
  std::unique_ptr<PageReader> reader_;
};

}  // namespace pv::engine
