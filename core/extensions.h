#pragma once
// The file name extensions the program reads: the image list's jobs (chosen
// files, folders, wildcards, list files, drops), `--formats` and the
// file-manager menu all take a file by this one table.

#include <algorithm>
#include <iterator>
#include <string_view>

namespace pv {

// One accepted extension: lower case, with its dot, and the family of files
// it names (the open dialog offers each family read here as one entry).
struct ExtensionRow {
  std::string_view extension;
  std::string_view family;
};

inline constexpr ExtensionRow kAcceptedExtensions[] = {
    {".cmp", "LEAD CMP"},
    {".jpg", "JPEG"},
    {".jpeg", "JPEG"},
    {".jtf", "JPEG"},
    {".tif", "TIFF"},
    {".tiff", "TIFF"},
    {".gif", "GIF"},
    {".png", "PNG"},
    {".psd", "Adobe Photoshop"},
    {".afp", "Advanced Function Presentation"},
    {".ani", "Animated Cursor"},
    {".cal", "CALS Raster"},
    {".crw", "Canon Raw"},
    {".clp", "Clipboard"},
    {".wmz", "Compressed Windows Metafile"},
    {".cut", "Dr. Halo CUT"},
    {".djv", "DjVu"},
    {".ecw", "Enhanced Compressed Wavelet"},
    {".emf", "Enhanced Metafile"},
    {".exf", "EXIF"},
    {".exif", "EXIF"},
    {".fax", "Raw Fax"},
    {".flc", "FLIC Animation"},
    {".fli", "FLIC Animation"},
    {".fpx", "FlashPix"},
    {".fit", "Flexible Image Transport System"},
    {".img", "GEM Image"},
    {".hgl", "HP-GL"},
    {".iff", "Interchange File"},
    {".tifx", "Internet Fax"},
    {".tfx", "Internet Fax"},
    {".ica", "IOCA"},
    {".itg", "Intergraph ITG"},
    {".cit", "Intergraph ITG"},
    {".cin", "Kodak Cineon"},
    {".kdc", "Kodak Digital Camera"},
    {".pcd", "Kodak Photo CD"},
    {".lv", "LaserView"},
    {".lmc", "LEAD LMC"},
    {".mac", "MacPaint"},
    {".pict", "Macintosh PICT"},
    {".sid", "MrSID"},
    {".awd", "Microsoft Fax"},
    {".msp", "Microsoft Paint"},
    {".ptk", "MO:DCA PTOCA"},
    {".bmp", "Windows or OS/2 Bitmap"},
    {".pcx", "ZSoft PCX"},
    {".psp", "Paint Shop Pro"},
    {".pspimage", "Paint Shop Pro"},
    {".pbm", "Portable Bitmap"},
    {".pgm", "Portable Greymap"},
    {".ppm", "Portable Pixmap"},
    {".prn", "Printer Command Language"},
    {".prt", "Printer Command Language"},
    {".dcr", "Kodak Professional Digital Camera"},
    {".sct", "Scitex Continuous Tone"},
    {".ct", "Scitex Continuous Tone"},
    {".sgi", "Silicon Graphics Image"},
    {".sff", "Structured Fax File"},
    {".ras", "Sun Raster"},
    {".tga", "Targa"},
    {".cur", "Windows Cursor"},
    {".ico", "Windows Icon"},
    {".icon", "Windows Icon"},
    {".wfx", "WinFax"},
    {".wmf", "Windows Metafile"},
    {".wpg", "WordPerfect Graphics"},
    {".wbmp", "Wireless Bitmap"},
    {".smp", "Xionics SMP"},
    {".xwd", "X Window Dump"},
    {".xbm", "X Bitmap"},
    {".xpm", "X Pixmap"},
    {".webp", "WebP"},
    {".avif", "AVIF"},
    {".heic", "HEIF"},
    {".heif", "HEIF"},
    {".hif", "HEIF"},
    {".jxl", "JPEG XL"},
};

// The accepted row of a file's extension: the text from the last dot of its
// name (the part after its last '/'), lower-cased; null when there is none.
constexpr const ExtensionRow* extensionRowOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  const std::string_view ext = name.substr(dot);
  const auto at = std::find_if(
      std::begin(kAcceptedExtensions), std::end(kAcceptedExtensions), [ext](const ExtensionRow& row) {
        const std::string_view a = row.extension;
        if (a.size() != ext.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
          const char c = ext[i] >= 'A' && ext[i] <= 'Z' ? static_cast<char>(ext[i] - 'A' + 'a') : ext[i];
          if (c != a[i]) return false;
        }
        return true;
      });
  return at == std::end(kAcceptedExtensions) ? nullptr : at;
}

// True when the file's extension is accepted: "A.JPG" and "x.TIFF" are
// taken, "a.jpg.bak", "README" and "dir.jpg/file" are not.
constexpr bool acceptedImageName(std::string_view path) { return extensionRowOf(path) != nullptr; }

// The family of a file's name ("JPEG" for a.jpeg and b.JPG), empty when the
// extension is not accepted.
constexpr std::string_view familyOfName(std::string_view path) {
  const ExtensionRow* row = extensionRowOf(path);
  return row ? row->family : std::string_view();
}

}  // namespace pv
