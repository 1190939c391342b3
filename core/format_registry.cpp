#include "core/format_registry.h"

namespace pv {

namespace {

constexpr std::array<FormatRow, kFormatCount> kRows{{
    {"JPG", "JPG", "JPEG File Interchange", 7, false},
    {"BMP", "BMP", "Windows or OS/2 Bitmap", 4, false},
    {"PNG", "PNG", "Portable Networks Graphics", 1, false},
    {"GIF", "GIF", "CompuServe Graphics Interchange", 2, true},
    {"ICO", "ICO", "Windows Icon", 6, true},
    {"TIF", "TIF", "Tagged Image File", 13, true},
    {"CLP", "CLP", "Copy to Clipboard", 1, false},
    {"ANI", "ANI", "Windows Animated Cursor", 1, true},
    {"AWD", "AWD", "Microsoft FAX", 1, false},
    {"CAL", "CAL", "CALS Raster File", 4, false},
    {"CIN", "CIN", "Cineon", 1, false},
    {"CMP", "CMP", "LEAD Compression", 1, false},
    {"CMP2", "CMP", "LEAD 1-bit Compression", 1, false},
    {"CUR", "CUR", "Windows Cursor", 1, true},
    {"CUT", "CUT", "Dr. Halo", 1, false},
    {"EMF", "EMF", "Enhanced MetaFile", 1, false},
    {"EPS", "EPS", "Encapsulated PostScript", 1, false},
    {"EXIF", "TIF", "EXIF File", 4, false},
    {"FAX", "FAX", "Raw FAX", 3, false},
    {"FLC", "FLC", "Flic Animation", 1, true},
    {"ICA", "ICA", "IOCA", 10, false},
    {"IFF", "IFF", "Interchange File", 2, false},
    {"IFF2", "IFF", "Interchange (Multi-Page)", 2, true},
    {"IMG", "IMG", "GEM Image", 1, false},
    {"ITG", "ITG", "ITG Intergraph", 2, false},
    {"MAC", "MAC", "MacPaint", 1, false},
    {"MSP", "MSP", "Microsoft Paint", 1, false},
    {"PBM", "PBM", "Portable Bitmap", 2, false},
    {"PCT", "PCT", "Macintosh QuickDraw", 1, false},
    {"PCX", "PCX", "ZSoft PCX", 1, true},
    {"PGM", "PGM", "Portable Greymap", 2, false},
    {"PPM", "PPM", "Portable Pixelmap", 2, false},
    {"PSD", "PSD", "Adobe Photoshop", 1, false},
    {"PSP", "PSP", "Paint Shop Pro", 2, false},
    {"RAS", "RAS", "Sun Raster", 1, false},
    {"RAW", "RAW", "Raw Uncompressed Data", 1, false},
    {"SCT", "SCT", "Scitex Continuous Tone", 1, false},
    {"SFF", "SFF", "Structured Fax File", 1, false},
    {"SGI", "SGI", "Silicon Graphics Image", 2, false},
    {"SMP", "SMP", "Xionics Format", 4, false},
    {"TIFX", "TIFX", "Internet Fax", 1, false},
    {"TGA", "TGA", "TARGA", 2, false},
    {"WBMP", "WBMP", "Wireless Bitmap", 1, false},
    {"WFX", "WFX", "Winfax", 2, false},
    {"WMF", "WMF", "Windows Meta File", 1, false},
    {"WPG", "WPG", "Word Perfect", 1, false},
    {"XBM", "XBM", "XBitmap File", 1, false},
    {"XPM", "XPM", "XPicmap File", 1, false},
    {"XWD", "XWD", "X Window Dump", 2, false},
}};

}  // namespace

const std::array<FormatRow, kFormatCount>& formatRegistry() { return kRows; }

std::string_view formatKey(int index) {
  return index >= 0 && index < kFormatCount ? kRows[static_cast<std::size_t>(index)].key : std::string_view();
}

std::string_view formatExtension(int index) {
  return index >= 0 && index < kFormatCount ? kRows[static_cast<std::size_t>(index)].extension
                                            : std::string_view();
}

std::string_view formatDescription(int index) {
  return index >= 0 && index < kFormatCount ? kRows[static_cast<std::size_t>(index)].description
                                            : std::string_view();
}

int formatIndexOfKey(std::string_view key) {
  for (int i = 0; i < kFormatCount; ++i)
    if (kRows[static_cast<std::size_t>(i)].key == key) return i;
  return -1;
}

}  // namespace pv
