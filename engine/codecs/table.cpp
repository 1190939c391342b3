// The codec table, and the entry points that fit each family's functions to
// the table's shape.
#include "engine/codecs/table.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "core/file_format.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

using namespace fmt;

bool startsWith(const std::string& head, const char* signature, std::size_t size) {
  return head.size() >= size && std::memcmp(head.data(), signature, size) == 0;
}

// ---- Signatures of the library codecs

bool sniffPng(const std::string& head, std::string_view) {
  return startsWith(head, "\x89PNG\r\n\x1a\n", 8);
}
bool sniffJpeg(const std::string& head, std::string_view) {
  return startsWith(head, "\xFF\xD8\xFF", 3);
}
bool sniffGif(const std::string& head, std::string_view) {
  return startsWith(head, "GIF87a", 6) || startsWith(head, "GIF89a", 6);
}
bool sniffTiff(const std::string& head, std::string_view) {
  return startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4) || startsWith(head, "II+\0", 4) ||
         startsWith(head, "MM\0+", 4);
}
bool sniffBmp(const std::string& head, std::string_view) {
  return startsWith(head, "BM", 2);
}
bool sniffWebp(const std::string& head, std::string_view) {
  return startsWith(head, "RIFF", 4) && head.size() >= 12 && head.compare(8, 4, "WEBP") == 0;
}
// An ISO media file ('ftyp' box) whose major or compatible brands include
// one of `brands` (four characters each).
bool hasBrand(const std::string& head, std::initializer_list<const char*> brands) {
  if (head.size() < 16 || head.compare(4, 4, "ftyp") != 0) return false;
  const std::size_t size = std::min<std::size_t>(
      head.size(), static_cast<std::uint8_t>(head[2]) << 8 | static_cast<std::uint8_t>(head[3]));
  for (std::size_t at = 8; at + 4 <= size; at += 4) {
    if (at == 12) continue;  // the minor version
    for (const char* b : brands)
      if (head.compare(at, 4, b) == 0) return true;
  }
  return false;
}
bool sniffAvif(const std::string& head, std::string_view) {
  return hasBrand(head, {"avif", "avis"});
}
bool sniffHeif(const std::string& head, std::string_view) {
  return hasBrand(head, {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"});
}
bool sniffJxl(const std::string& head, std::string_view) {
  return startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12);
}
// ImageMagick is asked last, about whatever is left.
bool sniffAny(const std::string& head, std::string_view) {
  return !head.empty();
}
bool sniffCameraRaw(const std::string&, std::string_view ext) {
  return isCameraRawExtension(ext);
}

// ---- The library codecs' functions in the table's shape

template <short (*Info)(const std::string&, FileInfo&)>
short libraryInfo(const Codec&, const std::string& path, FileInfo& info) {
  return Info(path, info);
}

// Readers of one picture a file.
template <short (*Load)(const std::string&, Document&)>
short loadOne(const Codec&, const std::string& path, int, int, Document& doc, FileInfo*) {
  return Load(path, doc);
}
// Readers of pages.
template <short (*Load)(const std::string&, int, int, Document&)>
short loadPages(const Codec&, const std::string& path, int page, int pageCount, Document& doc, FileInfo*) {
  return Load(path, page, pageCount, doc);
}

short pngSave(const Codec&, const std::string& path, const std::vector<Image>& pages, const SaveRequest& r) {
  return savePng(path, pages[0], r.bits, std::clamp(r.quality, 0, 9));
}

// JPEG: the CIELab methods are written as a standard YCbCr JPEG with the same
// subsampling, since no library here writes CIELab JPEG; Exif JPEG (1.1 and
// 2.0) is 4:2:2 colour with an Exif segment, and as the format has no quality
// setting, a quality factor of 26 (libjpeg 90) serves.
short jpegSave(const Codec&, const std::string& path, const std::vector<Image>& pages, const SaveRequest& r) {
  const Image& img = pages[0];
  switch (r.code) {
    case kJpegLab:
      return saveJpeg(path, img, kJpeg, r.bits, std::max(r.quality, 2), r.passes);
    case kJpegLab422:
      return saveJpeg(path, img, kJpeg422, r.bits, r.quality, r.passes);
    case kJpegLab411:
      return saveJpeg(path, img, kJpeg411, r.bits, r.quality, r.passes);
    case kExifJpeg:
    case kExifJpeg2:
      return saveJpeg(path, img, kJpeg422, 24, r.quality >= 2 ? r.quality : 26, 0,
                      exifSegment(img, r.code == kExifJpeg ? "0110" : "0200"));
    default:
      return saveJpeg(path, img, r.code, r.bits, r.quality, r.passes);
  }
}

// Today's photo formats: quality, the effort or speed that takes the place of
// passes, and whether EXIF and XMP travel.
template <short (*Save)(const std::string&, const std::vector<Image>&, int, int, int, int, bool)>
short photoSave(const Codec&, const std::string& path, const std::vector<Image>& pages,
                const SaveRequest& r) {
  return Save(path, pages, r.code, r.bits, r.quality, r.passes, r.tags);
}

short gifSave(const Codec&, const std::string& path, const std::vector<Image>& pages, const SaveRequest& r) {
  return saveGif(path, pages, r.bits, r.interlaced);
}
std::unique_ptr<PageSink> gifPages(const std::string& path, const SaveRequest& r, short& status) {
  return gifPageWriter(path, r.bits, r.interlaced, status);
}
std::unique_ptr<PageSink> tiffPages(const std::string& path, const SaveRequest& r, short& status) {
  return tiffPageWriter(path, r.code, r.bits, r.quality, status);
}
short tiffSave(const Codec&, const std::string& path, const std::vector<Image>& pages, const SaveRequest& r) {
  return saveTiff(path, pages, r.code, r.bits, r.quality, r.append);
}
short bmpSave(const Codec&, const std::string& path, const std::vector<Image>& pages, const SaveRequest& r) {
  return saveBmp(path, pages[0], r.code, r.bits);
}
short magickSave(const Codec&, const std::string& path, const std::vector<Image>& pages,
                 const SaveRequest& r) {
  return saveMagick(path, pages, r.code, r.bits, r.quality);
}

// ---- Codes

constexpr short kPngCodes[] = {kPng};
constexpr short kJpegCodes[] = {kJpeg,       kJpeg422,    kJpeg411,  kJpegLab,
                                kJpegLab411, kJpegLab422, kExifJpeg, kExifJpeg2};
constexpr short kGifCodes[] = {kGif};
constexpr short kTiffCodes[] = {
    kTiff,        kTiffCmyk,    kTiffYcc,     kTiffPackbits, kTiffPackbitsCmyk, kTiffPackbitsYcc,
    kTiffJpeg,    kTiffJpeg422, kTiffJpeg411, kTiffLzw,      kTiffLzwCmyk,      kTiffLzwYcc,
    kExifTiffRgb, kExifTiffYcc, kTiffFax};
constexpr short kBmpCodes[] = {kBmp, kBmpRle, kOs2Bmp, kOs2Bmp2};
constexpr short kIconCodes[] = {kIcon};
constexpr short kCursorCodes[] = {kCursor};
constexpr short kWebpCodes[] = {kWebp, kWebpLossless};
constexpr short kAvifCodes[] = {kAvif, kAvifLossless};
constexpr short kHeicCodes[] = {kHeic};
constexpr short kJxlCodes[] = {kJxl, kJxlLossless};
constexpr short kAniCodes[] = {kAnimatedCursor};
constexpr short kClpCodes[] = {kClipboard};
constexpr short kWmfCodes[] = {kWmf};
constexpr short kEmfCodes[] = {kEmf};
constexpr short kMspCodes[] = {kMsp};
constexpr short kMacCodes[] = {kMacPaint};
constexpr short kImgCodes[] = {kGemImg};
constexpr short kRawFaxCodes[] = {kFaxG3_2D, kFaxG4};
constexpr short kSffCodes[] = {kSff};
constexpr short kIffCodes[] = {kIff, kIffRaw};
constexpr short kIffListCodes[] = {kIffCat, kIffCatRaw};
constexpr short kIffFiles[] = {kIff, kIffCat};
constexpr short kWpgCodes[] = {kWpg};
constexpr short kSctCodes[] = {kScitexCt};
constexpr short kFlcCodes[] = {kFlc};
constexpr short kXwd10Codes[] = {kXwd10};
constexpr short kRawDataCodes[] = {kRawData};
constexpr short kIcaCodes[] = {kIcaG3, kIcaG3_2D, kIcaG4, kIcaRaw};
constexpr short kCutCodes[] = {kCut};
constexpr short kPcxCodes[] = {kPcx};
constexpr short kPcxFiles[] = {kPcx, kDcx};
constexpr short kTiffCmpCodes[] = {kTiffCmp};
constexpr short kCmpCodes[] = {kCmp};
constexpr short kCmp2Codes[] = {kCmp2};
constexpr short kAwdCodes[] = {kAwd};
constexpr short kItgCodes[] = {kItg, kItgG4};
constexpr short kPspCodes[] = {kPsp, kPspRle};
constexpr short kCalsTiledCodes[] = {kCalsTiled};
constexpr short kWfxCodes[] = {kWfxG3, kWfxG4};
constexpr short kModcaCodes[] = {kModcaG3, kModcaG3_2D, kModcaG4, kModcaRaw};
constexpr short kMmrCodes[] = {kModcaMmr, kIcaMmr};
constexpr short kSmpCodes[] = {kSmp, kSmpG3, kSmpG3_2D, kSmpG4};

// Our own codecs: one row a family, with its decoder, encoder or both.
// (A pointer to a function is never compared in a constant expression here:
// under the sanitizers that is no constant.)
constexpr Codec own(std::string_view name, std::span<const short> writes, EncodeFn encode) {
  return Codec{
      .name = name, .writer = "own", .writes = writes, .save = ownSave, .everyPage = true, .encode = encode};
}
constexpr Codec own(std::string_view name, std::span<const short> writes, EncodeFn encode, short readsAs,
                    std::string_view extensions, SniffFn sniff, DecodeFn decode, HeaderFn header = nullptr) {
  Codec c = own(name, writes, encode);
  c.reader = "own";
  c.extensions = extensions;
  c.sniff = sniff;
  c.info = ownInfo;
  c.load = ownLoad;
  c.readsAs = readsAs;
  c.decode = decode;
  c.header = header;
  return c;
}
// A reader only: files decoded by our own entry points, written by nobody
// here (or by another row).
constexpr Codec ownReader(std::string_view name, std::string_view reader, std::string_view extensions,
                          bool byExtension, SniffFn sniff, short readsAs, DecodeFn decode, HeaderFn header) {
  return Codec{.name = name,
               .reader = reader,
               .extensions = extensions,
               .byExtension = byExtension,
               .sniff = sniff,
               .info = ownInfo,
               .load = ownLoad,
               .readsAs = readsAs,
               .decode = decode,
               .header = header};
}
// A library codec of today's photo formats: reads and writes every page,
// with the metadata in its own container.
constexpr Codec photoCodec(std::string_view name, std::string_view library, std::span<const short> writes,
                           SaveFn save, std::string_view extensions, SniffFn sniff, InfoFn info, LoadFn load,
                           double (*workingBytes)(int code, int effort), std::string (*missing)() = nullptr) {
  return Codec{.name = name,
               .writer = library,
               .reader = library,
               .writes = writes,
               .save = save,
               .everyPage = true,
               .embedsMetadata = true,
               .missing = missing,
               .workingBytes = workingBytes,
               .extensions = extensions,
               .sniff = sniff,
               .info = info,
               .load = load};
}
// A code nothing here writes, with the reason.
constexpr Codec refused(std::string_view name, std::span<const short> codes, std::string_view why) {
  return Codec{.name = name, .writes = codes, .refusal = why};
}

// Order matters for reading: the first row whose sniff accepts a file reads
// it, and ImageMagick comes last.
constexpr Codec kCodecs[] = {
    {.name = "PNG",
     .writer = "libpng",
     .reader = "own",
     .writes = kPngCodes,
     .save = pngSave,
     .carriesMetadata = true,
     .extensions = "png",
     .sniff = sniffPng,
     .info = libraryInfo<readPngInfo>,
     .load = loadOne<loadPng>},
    {.name = "JPEG",
     .writer = "libjpeg-turbo",
     .reader = "own",
     .writes = kJpegCodes,
     .save = jpegSave,
     .carriesMetadata = true,
     .extensions = "jpg jpeg jtf",
     .sniff = sniffJpeg,
     .info = libraryInfo<readJpegInfo>,
     .load = loadOne<loadJpeg>},
    {.name = "GIF",
     .writer = "giflib",
     .reader = "own",
     .writes = kGifCodes,
     .save = gifSave,
     .everyPage = true,
     .openWriter = gifPages,
     .addsTo = kGifCodes,
     .extensions = "gif",
     .sniff = sniffGif,
     .info = libraryInfo<readGifInfo>,
     .load = loadPages<loadGif>,
     .openReader = gifPageReader},
    {.name = "TIFF",
     .writer = "libtiff",
     .reader = "own",
     .writes = kTiffCodes,
     .save = tiffSave,
     .everyPage = true,
     .openWriter = tiffPages,
     .appends = true,
     .carriesMetadata = true,
     .extensions = "tif tiff tifx tfx exif exf",
     .sniff = sniffTiff,
     .info = libraryInfo<readTiffInfo>,
     .load = loadPages<loadTiff>,
     .openReader = tiffPageReader},
    {.name = "BMP",
     .writer = "own",
     .reader = "own",
     .writes = kBmpCodes,
     .save = bmpSave,
     .extensions = "bmp",
     .sniff = sniffBmp,
     .info = libraryInfo<readBmpInfo>,
     .load = loadOne<loadBmp>},
    // Today's photo formats, each with its reference library, which also
    // reads and writes the metadata they hold as chunks, items or boxes.
    // Their encoders' memory, bytes a pixel, measured as the peak of a
    // one-worker run on a 2.25-megapixel photo less a BMP save's, rounded up
    // by a fifth (WebP's lossy encoder, too small to measure so, counts 6).
    photoCodec("WebP", "libwebp", kWebpCodes, photoSave<saveWebp>, "webp", sniffWebp,
               libraryInfo<readWebpInfo>, loadPages<loadWebp>,
               [](int code, int effort) -> double { return code != kWebpLossless ? 6 : effort == 0 ? 16 : 44; }),
    photoCodec("AVIF", "libavif", kAvifCodes, photoSave<saveAvif>, "avif", sniffAvif,
               libraryInfo<readAvifInfo>, loadPages<loadAvif>,
               [](int code, int speed) -> double {
                 return code == kAvifLossless || speed <= 2 ? 36 : speed <= 5 ? 28 : 18;
               },
               avifEncoderMissing),
    photoCodec("HEIF", "libheif", kHeicCodes, photoSave<saveHeic>, "heic heif hif", sniffHeif,
               libraryInfo<readHeifInfo>, loadPages<loadHeif>, [](int, int) -> double { return 21; },
               heicEncoderMissing),
    photoCodec("JPEG XL", "libjxl", kJxlCodes, photoSave<saveJxl>, "jxl", sniffJxl, libraryInfo<readJxlInfo>,
               loadPages<loadJxl>,
               [](int code, int effort) -> double {
                 if (effort >= 8) return 330;
                 if (effort == 7) return 110;
                 return code == kJxlLossless ? (effort <= 3 ? 72 : 110) : 48;
               }),
    // Camera raws are recognised by their extension before any content: two
    // of them look like TIFF.
    ownReader("Camera raw", "LibRaw", "crw kdc dcr", true, sniffCameraRaw, kCameraRaw, decodeCameraRaw,
              cameraRawInfo),

    // Icons and cursors (ICO and CUR are read by ImageMagick).
    [] {
      Codec c = own("ICO", kIconCodes, encodeIcon);
      c.addsTo = kIconCodes;
      return c;
    }(),
    [] {
      Codec c = own("CUR", kCursorCodes, encodeIcon);
      c.addsTo = kCursorCodes;
      return c;
    }(),
    [] {
      Codec c = own("ANI", kAniCodes, encodeIcon, kAnimatedCursor, "ani", sniffAni, decodeAni);
      c.addsTo = kAniCodes;
      return c;
    }(),
    own("CLP", kClpCodes, encodeClp, kClipboard, "clp", sniffClp, decodeClp),
    own("WMF", kWmfCodes, encodeWmf, kWmf, "wmf", sniffWmf, decodeWmf),
    own("EMF", kEmfCodes, encodeEmf, kEmf, "emf", sniffEmf, decodeEmf),
    own("MSP", kMspCodes, encodeMsp, kMsp, "msp", sniffMsp, decodeMsp),
    own("GEM IMG", kImgCodes, encodeImg, kGemImg, "img", sniffImg, decodeImg),
    own("MacPaint", kMacCodes, encodeMac, kMacPaint, "mac", sniffMac, decodeMac),
    own("Raw fax", kRawFaxCodes, encodeRawFax),
    own("SFF", kSffCodes, encodeSff, kSff, "sff", sniffSff, decodeSff),
    own("IFF", kIffCodes, encodeIff, kIff, "iff", sniffIff, decodeIff, iffInfo),
    [] {
      Codec c = own("IFF list", kIffListCodes, encodeIff);
      c.addsTo = kIffFiles;
      return c;
    }(),
    [] {
      Codec c = own("CUT", kCutCodes, encodeCut, kCut, "cut", sniffCut, decodeCut);
      c.companion = encodeCutPalette;
      c.companionPath = cutPalettePath;
      return c;
    }(),
    [] {
      Codec c = own("FLI/FLC", kFlcCodes, encodeFlic, kFlc, "flc fli", sniffFlic, decodeFlic, flicInfo);
      c.addsTo = kFlcCodes;
      return c;
    }(),
    own("X10 window dump", kXwd10Codes, encodeXwd10, kXwd10, "xwd", sniffXwd10, decodeXwd10),
    // Targa is read here (ImageMagick loses 16-bit grey with alpha) and
    // written by ImageMagick.
    ownReader("TGA", "own", "tga", false, sniffTga, kTga, decodeTga, tgaInfo),
    own("IOCA", kIcaCodes, encodeIoca, kIcaG3, "ica", sniffIoca, decodeIoca),
    own("WPG", kWpgCodes, encodeWpg),
    own("Scitex CT", kSctCodes, encodeSct),
    own("Raw data", kRawDataCodes, encodeRaw),

    // What is not written, and why.
    refused("TIFF CMP", kTiffCmpCodes, "CMP compression inside TIFF is proprietary"),
    refused("CMP", kCmpCodes, "CMP is a proprietary compression without a public definition"),
    refused("CMP2", kCmp2Codes, "CMP2 is a proprietary compression without a public definition"),
    refused("AWD", kAwdCodes, "AWD (fax document) has no public definition"),
    refused("ITG", kItgCodes, "ITG has no public definition"),
    refused("PSP", kPspCodes, "PSP (Paint Shop Pro) is a large undocumented layered format"),
    refused("Tiled CALS", kCalsTiledCodes,
            "tiled CALS is a type II file, an ODA raster document (FIPS 194), which is not built"),
    refused("WFX", kWfxCodes, "WFX (WinFax) has no public definition"),
    refused("MO:DCA", kModcaCodes, "the MO:DCA document around the image is not built (the image alone is)"),
    refused("IBM MMR", kMmrCodes, "IBM's MMR compression has no public definition"),
    refused("SMP", kSmpCodes, "SMP has no public definition"),

    // PCX adds pages (the file becomes a DCX); ImageMagick writes the rest of
    // its table and reads everything not claimed above.
    {.name = "PCX/DCX",
     .writer = "ImageMagick",
     .writes = kPcxCodes,
     .save = magickSave,
     .everyPage = true,
     .addsTo = kPcxFiles},
    {.name = "ImageMagick",
     .writer = "ImageMagick",
     .reader = "ImageMagick",
     .writesCode = magickWrites,
     .save = magickSave,
     .everyPage = true,
     .servesExtension = magickReadsExtension,
     .sniff = sniffAny,
     .info = libraryInfo<readMagickInfo>,
     .load = loadPages<loadMagick>,
     .resolutions = "pcd fpx sid"},
};

bool listed(std::string_view list, std::string_view word) {
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = std::min(list.find(' ', at), list.size());
    if (list.substr(at, end - at) == word) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

bool Codec::canWrite(int code) const {
  if (writesCode) return writesCode(code);
  return std::find(writes.begin(), writes.end(), code) != writes.end();
}

bool Codec::servesExt(std::string_view ext) const {
  if (servesExtension) return servesExtension(ext);
  return !ext.empty() && listed(extensions, ext);
}

bool Codec::holdsResolutions(std::string_view ext) const {
  return !ext.empty() && listed(resolutions, ext);
}

std::span<const Codec> codecTable() {
  return kCodecs;
}

const Codec* codecWriting(int code) {
  for (const Codec& c : kCodecs)
    if (c.canWrite(code)) return &c;
  return nullptr;
}

const Codec* codecReading(const std::string& head, std::string_view ext) {
  for (const Codec& c : kCodecs)
    if (c.byExtension && c.sniff(head, ext)) return &c;
  for (const Codec& c : kCodecs)
    if (c.sniff && !c.byExtension && c.sniff(head, ext)) return &c;
  return nullptr;
}

short ownInfo(const Codec& codec, const std::string& path, FileInfo& info) {
  if (codec.header) {
    std::string bytes;
    if (short s = readFileBytes(path, bytes)) return s;
    info.format = codec.readsAs;
    if (short s = codec.header(bytes, info)) return s;
    info.codec = &codec;
    return kOk;
  }
  Document doc;
  return ownLoad(codec, path, 1, 1, doc, &info);
}

short ownLoad(const Codec& codec, const std::string& path, int page, int pageCount, Document& doc,
              FileInfo* facts) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Document all;
  if (short s = codec.decode(path, bytes, all)) return s;
  if (all.pages.empty()) return kDamaged;
  for (const Image& p : all.pages)
    if (p.pixels.empty()) return kDamaged;
  if (facts) {
    facts->codec = &codec;
    facts->format = codec.readsAs;
    facts->pageCount = static_cast<int>(all.pages.size());
    facts->width = all.pages[0].width();
    facts->height = all.pages[0].height();
    facts->bits = static_cast<short>(all.pages[0].bits);
    // A reader's header facts, where it has them, are the file's own.
    if (codec.header) codec.header(bytes, *facts);
  }
  return keepPages(all.pages, page, pageCount, doc);
}

short keepPages(std::vector<Image>& all, int page, int pageCount, Document& doc,
                const std::shared_ptr<const Metadata>& metadata) {
  if (all.empty()) return kDamaged;
  const std::size_t first = static_cast<std::size_t>(std::max(page, 1) - 1);
  if (first >= all.size()) return kInvalidParameter;
  const std::size_t rest = all.size() - first;
  const std::size_t count =
      pageCount < 0 ? rest : std::min<std::size_t>(static_cast<std::size_t>(std::max(pageCount, 1)), rest);
  doc.pages.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(first)),
                   std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(first + count)));
  for (Image& p : doc.pages)
    if (!p.metadata) p.metadata = metadata;
  doc.current = 0;
  doc.region.release();
  return kOk;
}

short ownSave(const Codec& codec, const std::string& path, const std::vector<Image>& pages,
              const SaveRequest& r) {
  const int bits = r.bits == 0 ? pages[0].bits : r.bits;  // the image's own depth
  std::string bytes, second;
  if (short s = codec.encode(pages, r.code, bits, bytes)) return s;
  if (!codec.companion) return writeFileAtomically(path, bytes);
  // The companion goes first, so the picture never exists without it; it is
  // taken away again when the picture cannot be written.
  if (short s = codec.companion(pages, r.code, bits, second)) return s;
  const std::string other = codec.companionPath(path);
  if (short s = writeFileAtomically(other, second)) return s;
  const short s = writeFileAtomically(path, bytes);
  if (s != kOk) unlink(other.c_str());
  return s;
}

}  // namespace pv::engine::codecs
