#include "formats/format.h"

#include <algorithm>
#include <iterator>

#include "core/format_registry.h"
#include "core/ini.h"
#include "core/text.h"
#include "engine/lead.h"

namespace pv::formats {

namespace {

// Position of depth d in kDepthList, or -1.
int depthPosition(int d) {
  for (std::size_t i = 0; i < kDepthList.size(); ++i)
    if (kDepthList[i] == d) return static_cast<int>(i);
  return -1;
}

// A depth that is no entry of the list moves to the nearest entry (ties go to
// the larger one, so no colours are given up).
int nearestListedDepth(int d) {
  if (d <= kDepthList.front()) return kDepthList.front();
  if (d >= kDepthList.back()) return kDepthList.back();
  for (std::size_t i = 1; i < kDepthList.size(); ++i)
    if (d <= kDepthList[i])
      return (d - kDepthList[i - 1] < kDepthList[i] - d) ? kDepthList[i - 1] : kDepthList[i];
  return kDepthList.back();
}

bool isOrg(std::string_view depth) {
  return iequals(depth, "org");
}

// Resizes the current image to an edge x edge square unless it already is one.
void makeSquare(engine::CLead& lead, int edge) {
  if (static_cast<int>(lead.GetImageHeight()) != edge || static_cast<int>(lead.GetImageWidth()) != edge)
    static_cast<void>(lead.ResizeImage(static_cast<float>(edge), static_cast<float>(edge), 4));
}

// The formats that adjust the image or the next save before it, by key;
// every other format saves the image as the filters left it.
struct Preparation {
  std::string_view key;
  void (*prepare)(engine::CLead& lead, std::uint32_t method);
};
constexpr Preparation kPreparations[] = {
    // Interlaced output for method 1.
    {"GIF", [](engine::CLead& lead, std::uint32_t method) { lead.SetSaveInterlaced(method != 0); }},
    // Icons are squares of the method's edge length (32 for a method beyond the list).
    {"ICO",
     [](engine::CLead& lead, std::uint32_t method) {
       static constexpr int kEdges[] = {16, 24, 32, 48, 72, 128};
       makeSquare(lead, method < std::size(kEdges) ? kEdges[method] : 32);
     }},
    // Animated cursors are always resized to 32 x 32.
    {"ANI", [](engine::CLead& lead,
               std::uint32_t) { static_cast<void>(lead.ResizeImage(32.0f, 32.0f, 4)); }},
    // Cursors are 32 x 32.
    {"CUR", [](engine::CLead& lead, std::uint32_t) { makeSquare(lead, 32); }},
    {"PSD", [](engine::CLead& lead, std::uint32_t) { lead.SetPhotoshopSaveFlag(true); }},
};
static_assert(std::all_of(std::begin(kPreparations), std::end(kPreparations),
                          [](const Preparation& p) { return formatIndexOfKey(p.key) >= 0; }),
              "every preparation belongs to a format of the table");

}  // namespace

Format::Format(int registryIndex, std::string configPath)
    : row_(&formatRegistry()[static_cast<std::size_t>(registryIndex)]),
      configPath_(std::move(configPath)) {
  for (const Preparation& p : kPreparations)
    if (p.key == row_->key) prepare_ = p.prepare;
  for (std::size_t i = 0; i < kDepthList.size(); ++i)
    depthIndex[static_cast<std::size_t>(kDepthList[i] - 1)] = static_cast<std::int32_t>(i);
  index = registryIndex;
  key = std::string(formatKey(registryIndex));
  extension = std::string(formatExtension(registryIndex));
  loadOptions();
}

void Format::loadOptions() {
  const auto& r = row();
  methodCount = static_cast<std::int32_t>(r.methods.size());
  multiPage = r.multiPage;
  hasQuality = r.hasQuality;
  hasPasses = r.hasPasses;
  qualityStart = r.qualityStart;
  qualityEnd = r.qualityEnd;
  resetOptions();
  readOptions(key);
}

void Format::loadShellOptions() {
  readOptions(key + " Shell");
}

void Format::resetOptions() {
  method = row().defaultMethod;
  quality = row().qualityReset;
  passes = static_cast<std::uint32_t>(row().passesReset);
  colorDepth = "org";
  maxFileSize = 0;
}

void Format::readOptions(const std::string& section) {
  const auto& r = row();
  const ini::Document doc = ini::Document::load(configPath_);
  auto text = [&](const char* name, const std::string& fallback) {
    return doc.get(section, name).value_or(fallback);
  };
  method =
      static_cast<std::uint32_t>(parseDecimal(text("CompressionMethod", std::to_string(r.defaultMethod))));
  quality = parseDecimal(text("Quality", std::to_string(r.qualityMissing)));
  colorDepth = std::string(utf8Prefix(text("ChosenColorDepth", "org"), 1499));
  passes = static_cast<std::uint32_t>(parseDecimal(text("ProgressivePass", std::to_string(r.passesReset))));
  if (r.sizeTarget) maxFileSize = static_cast<std::uint32_t>(std::max(0, parseDecimal(text("MaxFileSize", "0"))));
  // Only a hand-edited file holds a depth that is neither "org" nor listed.
  if (!isOrg(colorDepth) &&
      (depthPosition(parseDecimal(colorDepth)) < 0 || std::to_string(parseDecimal(colorDepth)) != colorDepth))
    colorDepth = "org";
}

void Format::writeOptions(const std::string& section) const {
  ini::Document doc = ini::Document::load(configPath_);
  doc.set(section, "CompressionMethod", std::to_string(method));
  doc.set(section, "Quality", std::to_string(quality));
  doc.set(section, "ChosenColorDepth", colorDepth);
  doc.set(section, "ProgressivePass", std::to_string(passes));
  // Sections stay as they were until a limit is set.
  if (row().sizeTarget && (maxFileSize > 0 || doc.get(section, "MaxFileSize")))
    doc.set(section, "MaxFileSize", std::to_string(maxFileSize));
  doc.save(configPath_);
}

void Format::saveOptions() const {
  writeOptions(key);
}
void Format::saveShellOptions() const {
  writeOptions(key + " Shell");
}

void Format::takeOptions(const Format& other) {
  method = other.method;
  quality = other.quality;
  colorDepth = other.colorDepth;
  passes = other.passes;
  maxFileSize = other.maxFileSize;
}

void Format::setSaveOptions(engine::CLead& lead) const {
  lead.SetSavePasses(hasPasses ? static_cast<short>(passes) : 0);
  lead.SetSaveSizeLimit(sizeLimit());
}

bool Format::prepareImage(engine::CLead& lead) {
  if (!prepare_) return false;
  prepare_(lead, method);
  return true;
}

engine::SizeLimit Format::sizeLimit() const {
  const auto methods = row().methods;
  if (!row().sizeTarget || maxFileSize == 0 || method >= methods.size() || methods[method].lossless) return {};
  return {.bytes = std::uint64_t{maxFileSize} * 1000,
          .worstQuality = row().qualityRises ? row().qualityStart : row().qualityEnd};
}

bool Format::keepsColourFor(std::uint32_t m) const {
  return m < 16 && ((row().keepsColour >> m) & 1) != 0;
}
bool Format::isClipboard() const {
  return row().clipboard;
}
bool Format::writesPagesTogether() const {
  return row().pagesTogether;
}
bool Format::keepsTransparency() const {
  return row().keepsTransparency;
}

std::string Format::methodName(std::uint32_t i) const {
  if (row().methods.size() <= 1 || i >= row().methods.size()) return {};
  return std::string(row().methods[i].name);
}

int Format::fileFormatCode(std::uint32_t i) const {
  return i < row().methods.size() ? row().methods[i].code : 0;
}

void Format::setAllowedDepths(std::uint32_t i) {
  allowedDepths.fill(false);
  if (i >= row().methods.size()) return;
  for (std::size_t b = 0; b < allowedDepths.size(); ++b)
    allowedDepths[b] = (row().methods[i].depths >> b) & 1;
}

void Format::parseOptionWords(std::string_view words) {
  std::vector<std::string_view> w;
  std::size_t pos = 0;
  while (pos < words.size()) {
    std::size_t end = words.find(' ', pos);
    if (end == std::string_view::npos) end = words.size();
    if (end > pos) w.push_back(words.substr(pos, end - pos));
    pos = end + 1;
  }
  if (w.size() > 2) method = static_cast<std::uint32_t>(parseDecimal(w[2]));
  if (w.size() > 3) colorDepth = std::string(w[3]);
  if (int d = parseDecimal(colorDepth); d <= 0 || d > 32) colorDepth = "org";
  if (w.size() > 4) quality = parseDecimal(w[4]);
  if (w.size() > 5) passes = static_cast<std::uint32_t>(parseDecimal(w[5]));
}

int Format::nearestAllowedDepth(std::uint32_t m, int wanted) {
  setAllowedDepths(m);
  auto allowed = [&](int d) {
    int p = depthPosition(d);
    return p >= 0 && p < static_cast<int>(allowedDepths.size()) && allowedDepths[static_cast<std::size_t>(p)];
  };
  const int start = nearestListedDepth(wanted);
  for (int d = start; d < 32; d = kDepthList[static_cast<std::size_t>(depthPosition(d) + 1)])
    if (allowed(d)) return d;
  for (int p = depthPosition(start); p >= 0; --p)
    if (allowed(kDepthList[static_cast<std::size_t>(p)])) return kDepthList[static_cast<std::size_t>(p)];
  return 0;
}

int Format::outputDepth(int sourceBits) {
  if (isOrg(colorDepth)) {
    int d = nearestAllowedDepth(method, sourceBits);
    return keepsColourFor(method) && d < 24 ? 24 : d;
  }
  return nearestAllowedDepth(method, parseDecimal(colorDepth));
}

std::unique_ptr<Format> createFormatByIndex(int i, const std::string& configPath) {
  if (i < 0 || i >= kFormatCount) return nullptr;
  return std::make_unique<Format>(i, configPath);
}

std::unique_ptr<Format> createFormat(std::string_view text, const std::string& configPath) {
  std::string word = asciiLower(text.substr(0, 4));
  while (!word.empty() && word.back() == ' ') word.pop_back();
  // Every key is unique, so the order of comparison does not change the match.
  for (int i = 0; i < kFormatCount; ++i)
    if (word == asciiLower(formatKey(i))) return createFormatByIndex(i, configPath);
  return nullptr;
}

}  // namespace pv::formats
