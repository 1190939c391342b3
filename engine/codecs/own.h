#pragma once
// Formats that no library here reads or writes, handled by small codecs of
// our own. Each family is a row of the codec table (table.cpp); what they
// share is in own.cpp.

#include <string>
#include <string_view>
#include <vector>

#include "engine/codecs/bytes.h"
#include "engine/codecs/codecs.h"

namespace pv::engine::codecs {

// Icons, cursors and animated cursors (icon.cpp).
bool sniffAni(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeAni(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeIcon(const std::vector<Image>& pages, int code, int bits, std::string& out);
// One icon or cursor file's first entry with its mask as alpha.
[[nodiscard]] short decodeIconFile(const std::string& bytes, Image& image);

// Containers of one device-independent bitmap: clipboard files, WMF, EMF
// (dibfiles.cpp).
bool sniffClp(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeClp(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeClp(const std::vector<Image>& pages, int code, int bits, std::string& out);
bool sniffWmf(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeWmf(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeWmf(const std::vector<Image>& pages, int code, int bits, std::string& out);
bool sniffEmf(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeEmf(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeEmf(const std::vector<Image>& pages, int code, int bits, std::string& out);

// Black-and-white paint formats (paint.cpp).
bool sniffMsp(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeMsp(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeMsp(const std::vector<Image>& pages, int code, int bits, std::string& out);
[[nodiscard]] short encodeMac(const std::vector<Image>& pages, int code, int bits, std::string& out);
bool sniffMac(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeMac(const std::string& path, const std::string& bytes, Document& doc);
bool sniffImg(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeImg(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeImg(const std::vector<Image>& pages, int code, int bits, std::string& out);
// PackBits rows, as MacPaint, IFF and TIFF compress them, and back: `size`
// bytes unpacked from the reader, false when it runs out first.
std::string packBits(const std::string& in);
bool unpackBits(ByteReader& r, std::size_t size, std::string& out);

// Fax codings through libtiff's CCITT coders (fax.cpp). `compression` is a
// libtiff compression number; each strip holds `rowsPerStrip` rows (0: all).
struct Coding {
  int compression = 0;
  bool twoD = false;      // G3 with 2D lines
  bool lsbFirst = false;  // bits of a byte from the low end
  int rowsPerStrip = 0;
};
// Codes a picture of 0/1 (1 black) into strips, and decodes strips back.
[[nodiscard]] short ccittEncode(const cv::Mat& black, const Coding& coding, std::vector<std::string>& strips);
[[nodiscard]] short ccittDecode(const std::vector<std::string>& strips, int width, int height,
                                const Coding& coding, cv::Mat& black);
[[nodiscard]] short encodeRawFax(const std::vector<Image>& pages, int code, int bits, std::string& out);
bool sniffSff(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeSff(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeSff(const std::vector<Image>& pages, int code, int bits, std::string& out);

// IFF ILBM, single pictures and CAT lists of them (iff.cpp).
bool sniffIff(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeIff(const std::string& path, const std::string& bytes, Document& doc);
// Header facts; a CAT list of pictures reports the multi-page code 112.
[[nodiscard]] short iffInfo(const std::string& bytes, FileInfo& info);
[[nodiscard]] short encodeIff(const std::vector<Image>& pages, int code, int bits, std::string& out);

// WordPerfect graphics and Scitex CT, written only (wpg.cpp, sct.cpp).
[[nodiscard]] short encodeWpg(const std::vector<Image>& pages, int code, int bits, std::string& out);
[[nodiscard]] short encodeSct(const std::vector<Image>& pages, int code, int bits, std::string& out);

// Dr. Halo CUT with its palette file (cut.cpp).
bool sniffCut(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeCut(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeCut(const std::vector<Image>& pages, int code, int bits, std::string& out);
[[nodiscard]] short encodeCutPalette(const std::vector<Image>& pages, int code, int bits, std::string& out);
std::string cutPalettePath(const std::string& path);

// FLI and FLC animations (flic.cpp).
bool sniffFlic(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeFlic(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short flicInfo(const std::string& bytes, FileInfo& info);

// Targa (read only; ImageMagick writes it).
bool sniffTga(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeTga(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short tgaInfo(const std::string& bytes, FileInfo& info);
[[nodiscard]] short encodeFlic(const std::vector<Image>& pages, int code, int bits, std::string& out);

// X10 window dumps (xwd10.cpp) and raw pixel data (raw.cpp).
bool sniffXwd10(const std::string& head, std::string_view ext);
short decodeXwd10(const std::string& path, const std::string& bytes, Document& doc);
short encodeXwd10(const std::vector<Image>& pages, int code, int bits, std::string& out);
[[nodiscard]] short encodeRaw(const std::vector<Image>& pages, int code, int bits, std::string& out);

// Camera raw files through LibRaw (camera.cpp), recognised by extension
// before the TIFF reader (two of them are TIFF inside).
bool isCameraRawExtension(std::string_view ext);
[[nodiscard]] short decodeCameraRaw(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short cameraRawInfo(const std::string& bytes, FileInfo& info);

// IOCA bilevel images, bare or in MO:DCA (ioca.cpp).
bool sniffIoca(const std::string& head, std::string_view ext);
[[nodiscard]] short decodeIoca(const std::string& path, const std::string& bytes, Document& doc);
[[nodiscard]] short encodeIoca(const std::vector<Image>& pages, int code, int bits, std::string& out);

// Black and white pixels of a page: 1 for black, dithered from its grey.
cv::Mat blackOf(const Image& page);
// A picture of 0/1 (1 black) as a 1-bit page.
Image pageOfBlack(const cv::Mat& black);
// Palette indices (CV_8UC1) as an indexed page of that depth; an index past
// the palette is black.
Image pageOfIndices(const cv::Mat& indices, const std::vector<std::uint32_t>& palette, int bits);

}  // namespace pv::engine::codecs
