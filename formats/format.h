#pragma once
// Format: one output file type, with the user's four options (method, quality,
// colour depth, passes), the translation of a method into the engine's file
// format code and allowed depths, and the preparation of the image before a save.
// The values of every format are its row of the format table
// (core/format_registry.h); the few formats that prepare the image in a way
// of their own have a line in format.cpp's table of preparations.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/outputs.h"

namespace pv {
struct FormatRow;
}

namespace pv::engine {
class CLead;
}

namespace pv::formats {

inline constexpr std::array<int, 14> kDepthList{1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32, 48, 64};

class Format final {
 public:
  // The format at `registryIndex` of the table, with its options loaded from
  // `configPath`.
  Format(int registryIndex, std::string configPath);
  Format(const Format&) = delete;
  Format& operator=(const Format&) = delete;

  std::string key;
  std::string extension;
  std::int32_t index = -1;
  std::uint32_t method = 0;
  std::int32_t methodCount = 1;
  bool multiPage = false;
  bool hasQuality = false;
  bool hasPasses = false;
  std::uint32_t passes = 0;
  std::int32_t quality = 0;
  std::int32_t qualityEnd = 100;
  std::int32_t qualityStart = 0;
  std::array<bool, 12> allowedDepths{};
  std::string colorDepth = "org";
  // The largest file in kilobytes of 1000 bytes (0: no limit), met by
  // lowering the quality; formats whose row has a size target only.
  std::uint32_t maxFileSize = 0;
  std::array<std::int32_t, 14> depthList = kDepthList;
  std::array<std::int32_t, 64> depthIndex{};
  // The progress of a running conversion (file name, current image, percent,
  // image count) is kept by the job that runs it (app/progress.h), where the
  // window can read it while the worker writes it.

  // Limits, reset, then the four options of the ordinary section.
  void loadOptions();
  // The four options of the "<key> Shell" section.
  void loadShellOptions();
  // The format's defaults.
  void resetOptions();
  // The user's options of another object of the same format: method,
  // quality, depth, passes and size limit.
  void takeOptions(const Format& other);
  // The passes and the size limit of the next saves.
  void setSaveOptions(engine::CLead& lead) const;
  // Adjusts the current image or the next save; true when it did.
  bool prepareImage(engine::CLead& lead);
  // Display name of method i; empty for single-method formats and indexes
  // beyond the list.
  std::string methodName(std::uint32_t i) const;
  // The engine's file format code of method i; 0 beyond the list.
  int fileFormatCode(std::uint32_t i) const;
  // Clears allowedDepths, then sets the depths method i allows.
  void setAllowedDepths(std::uint32_t i);

  void saveOptions() const;
  void saveShellOptions() const;

  // Applies the option words of a convert switch ("convert JPG 1 24 30 3"):
  // the first two words are skipped, then method, depth, quality, passes.
  void parseOptionWords(std::string_view words);

  // The depth that `method` allows nearest to `wanted`: upward first (below
  // 32), then downward; 0 when none.
  int nearestAllowedDepth(std::uint32_t method, int wanted);

  // The bits to save one image of depth `sourceBits` with.
  int outputDepth(int sourceBits);

  const std::string& configPath() const { return configPath_; }

  // The size limit a save with the current method takes: none where the
  // format has no size target, no limit is set or the method is lossless;
  // else from the format's quality down to its lowest.
  engine::SizeLimit sizeLimit() const;

  // Traits of the format's row.
  const FormatRow& row() const { return *row_; }
  bool isClipboard() const;
  bool writesPagesTogether() const;
  bool keepsTransparency() const;

 private:
  // True when a kept source depth below 24 is raised to 24 with method m.
  bool keepsColourFor(std::uint32_t m) const;

  void readOptions(const std::string& section);
  void writeOptions(const std::string& section) const;

  const FormatRow* row_;
  std::string configPath_;
  void (*prepare_)(engine::CLead& lead, std::uint32_t method) = nullptr;
};

// The format factory: the first four characters of `text`, lower-cased with
// trailing blanks removed, must equal a key exactly ("tiff" and "jpeg" match
// nothing). Returns the new format with its options loaded from `configPath`,
// or nullptr.
std::unique_ptr<Format> createFormat(std::string_view text, const std::string& configPath);

// Creates the format at registry index 0..kFormatCount - 1 (nullptr outside).
std::unique_ptr<Format> createFormatByIndex(int index, const std::string& configPath);

}  // namespace pv::formats
