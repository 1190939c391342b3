// The table of our own readers and writers, and what they share.
#include "engine/codecs/own.h"

#include <unistd.h>

#include <opencv2/imgproc.hpp>

#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

constexpr OwnReader kReaders[] = {
    {kAnimatedCursor, "ani", sniffAni, decodeAni},
    {114, "clp", sniffClp, decodeClp},
    {15, "wmf", sniffWmf, decodeWmf},
    {116, "emf", sniffEmf, decodeEmf},
    {53, "msp", sniffMsp, decodeMsp},
    {52, "img", sniffImg, decodeImg},
    {51, "mac", sniffMac, decodeMac},
    {302, "sff", sniffSff, decodeSff},
    {111, "iff", sniffIff, decodeIff, iffInfo},
    {108, "cut", sniffCut, decodeCut},
    {134, "flc fli", sniffFlic, decodeFlic, flicInfo},
    {132, "xwd", sniffXwd10, decodeXwd10},
    {77, "ica", sniffIoca, decodeIoca},
};

constexpr OwnWriter kWriters[] = {
    {kIcon, encodeIcon}, {kCursor, encodeIcon}, {kAnimatedCursor, encodeIcon},
    {114, encodeClp},    {15, encodeWmf},       {116, encodeEmf},
    {53, encodeMsp},     {51, encodeMac},       {52, encodeImg},
    {67, encodeRawFax},  {68, encodeRawFax},    {302, encodeSff},
    {111, encodeIff},    {303, encodeIff},      {112, encodeIff},      {304, encodeIff},
    {54, encodeWpg},     {250, encodeSct},      {134, encodeFlic},
    {132, encodeXwd10},  {153, encodeRaw},
    {77, encodeIoca},    {78, encodeIoca},      {79, encodeIoca},      {254, encodeIoca},
    {108, encodeCut, encodeCutPalette, cutPalettePath},
};

bool cameraRawSniff(const std::string&, std::string_view ext) { return isCameraRawExtension(ext); }

const OwnWriter* writerFor(int code) {
  for (const OwnWriter& w : kWriters)
    if (w.code == code) return &w;
  return nullptr;
}

}  // namespace

const OwnReader kCameraRawReader = {1030, "crw kdc dcr", cameraRawSniff, decodeCameraRaw, cameraRawInfo};

bool ownWrites(int code) { return writerFor(code) != nullptr; }

short saveOwn(const std::string& path, const std::vector<Image>& pages, int code, int bits) {
  const OwnWriter* w = writerFor(code);
  if (!w) return kNotSupported;
  if (pages.empty() || pages[0].pixels.empty()) return kInvalidParameter;
  if (bits == 0) bits = pages[0].bits;  // the image's own depth
  std::string bytes, second;
  if (short s = w->encode(pages, code, bits, bytes)) return s;
  if (!w->companion) return writeFileAtomically(path, bytes);
  // The companion goes first, so the picture never exists without it; it is
  // taken away again when the picture cannot be written.
  if (short s = w->companion(pages, code, bits, second)) return s;
  const std::string other = w->companionPath(path);
  if (short s = writeFileAtomically(other, second)) return s;
  const short s = writeFileAtomically(path, bytes);
  if (s != kOk) unlink(other.c_str());
  return s;
}

bool ownReadsExtension(std::string_view extension) {
  if (isCameraRawExtension(extension)) return true;
  for (const OwnReader& r : kReaders)
    for (std::size_t at = 0; at < r.extensions.size();) {
      const std::size_t end = std::min(r.extensions.find(' ', at), r.extensions.size());
      if (r.extensions.substr(at, end - at) == extension) return true;
      at = end + 1;
    }
  return false;
}

const OwnReader* ownReaderFor(const std::string& head, std::string_view ext) {
  for (const OwnReader& r : kReaders)
    if (r.sniff(head, ext)) return &r;
  return nullptr;
}

short readOwnInfo(const OwnReader& reader, const std::string& path, FileInfo& info) {
  if (reader.info) {
    std::string bytes;
    if (short s = readFileBytes(path, bytes)) return s;
    info.format = reader.code;
    if (short s = reader.info(bytes, info)) return s;
    info.reader = Reader::kOwn;
    info.own = &reader;
    return kOk;
  }
  Document doc;
  return loadOwn(reader, path, 1, 1, doc, &info);
}

short loadOwn(const OwnReader& reader, const std::string& path, int page, int pageCount, Document& doc,
              FileInfo* facts) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Document all;
  if (short s = reader.decode(path, bytes, all)) return s;
  if (all.pages.empty()) return kDamaged;
  for (const Image& p : all.pages)
    if (p.pixels.empty()) return kDamaged;
  if (facts) {
    facts->reader = Reader::kOwn;
    facts->own = &reader;
    facts->format = reader.code;
    facts->pageCount = static_cast<int>(all.pages.size());
    facts->width = all.pages[0].width();
    facts->height = all.pages[0].height();
    facts->bits = static_cast<short>(all.pages[0].bits);
    // A reader's header facts, where it has them, are the file's own.
    if (reader.info) reader.info(bytes, *facts);
  }
  const std::size_t first = static_cast<std::size_t>(std::max(page, 1) - 1);
  if (first >= all.pages.size()) return kInvalidParameter;
  const std::size_t count = pageCount < 0 ? all.pages.size() - first : 1;
  doc.pages.assign(std::make_move_iterator(all.pages.begin() + static_cast<std::ptrdiff_t>(first)),
                   std::make_move_iterator(all.pages.begin() + static_cast<std::ptrdiff_t>(first + count)));
  doc.current = 0;
  doc.region.release();
  return kOk;
}

cv::Mat blackOf(const Image& page) {
  cv::Mat g;
  const cv::Mat& px = page.pixels;
  if (px.channels() == 1) g = px.clone();
  else cv::cvtColor(px, g, px.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  ditherToPalette(g, {0x000000, 0xFFFFFF}, 1);
  cv::Mat black;
  cv::compare(g, 128, black, cv::CMP_LT);
  return black / 255;
}

Image pageOfBlack(const cv::Mat& black) {
  Image img;
  cv::Mat white;
  cv::compare(black, 0, white, cv::CMP_EQ);  // 255 where white
  img.pixels = white;
  img.bits = 1;
  return img;
}

Image pageOfIndices(const cv::Mat& indices, const std::vector<std::uint32_t>& palette, int bits) {
  Image img;
  img.pixels.create(indices.size(), CV_8UC3);
  for (int y = 0; y < indices.rows; ++y) {
    const std::uint8_t* s = indices.ptr<std::uint8_t>(y);
    std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
    for (int x = 0; x < indices.cols; ++x, o += 3) {
      const std::uint32_t c = s[x] < palette.size() ? palette[s[x]] : 0;
      o[0] = static_cast<std::uint8_t>(c >> 16), o[1] = static_cast<std::uint8_t>(c >> 8), o[2] = static_cast<std::uint8_t>(c);
    }
  }
  img.bits = bits;
  img.palette = palette;
  return img;
}

}  // namespace pv::engine::codecs
