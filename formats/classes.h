#pragma once
// The format classes, one per row of the format table, named after the
// row's key. Most are fully described by their row; the ones with behaviour
// of their own are spelled out below.

#include "core/format_registry.h"
#include "formats/format.h"

namespace pv::formats {

// A format whose every value comes from its row.
#define PV_TABLE_FORMAT(Class, Key)                                                                       \
  class Class final : public Format {                                                                     \
   public:                                                                                                \
    static constexpr std::string_view kKey = Key;                                                         \
    explicit Class(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); } \
  };

PV_TABLE_FORMAT(TJPG, "JPG")
PV_TABLE_FORMAT(TBMP, "BMP")
PV_TABLE_FORMAT(TPNG, "PNG")
PV_TABLE_FORMAT(TTIF, "TIF")
PV_TABLE_FORMAT(TCLP, "CLP")
PV_TABLE_FORMAT(TAWD, "AWD")
PV_TABLE_FORMAT(TCAL, "CAL")
PV_TABLE_FORMAT(TCIN, "CIN")
PV_TABLE_FORMAT(TCMP, "CMP")
PV_TABLE_FORMAT(TCMP2, "CMP2")
PV_TABLE_FORMAT(TCUT, "CUT")
PV_TABLE_FORMAT(TEMF, "EMF")
PV_TABLE_FORMAT(TEPS, "EPS")
PV_TABLE_FORMAT(TEXIF, "EXIF")
PV_TABLE_FORMAT(TFAX, "FAX")
PV_TABLE_FORMAT(TFLC, "FLC")
PV_TABLE_FORMAT(TICA, "ICA")
PV_TABLE_FORMAT(TIFF, "IFF")
PV_TABLE_FORMAT(TIFF2, "IFF2")
PV_TABLE_FORMAT(TIMG, "IMG")
PV_TABLE_FORMAT(TITG, "ITG")
PV_TABLE_FORMAT(TMAC, "MAC")
PV_TABLE_FORMAT(TMSP, "MSP")
PV_TABLE_FORMAT(TPBM, "PBM")
PV_TABLE_FORMAT(TPCT, "PCT")
PV_TABLE_FORMAT(TPCX, "PCX")
PV_TABLE_FORMAT(TPGM, "PGM")
PV_TABLE_FORMAT(TPPM, "PPM")
PV_TABLE_FORMAT(TPSP, "PSP")
PV_TABLE_FORMAT(TRAS, "RAS")
PV_TABLE_FORMAT(TRAW, "RAW")
PV_TABLE_FORMAT(TSCT, "SCT")
PV_TABLE_FORMAT(TSFF, "SFF")
PV_TABLE_FORMAT(TSGI, "SGI")
PV_TABLE_FORMAT(TSMP, "SMP")
PV_TABLE_FORMAT(TTIFX, "TIFX")
PV_TABLE_FORMAT(TTGA, "TGA")
PV_TABLE_FORMAT(TWBMP, "WBMP")
PV_TABLE_FORMAT(TWFX, "WFX")
PV_TABLE_FORMAT(TWMF, "WMF")
PV_TABLE_FORMAT(TWPG, "WPG")
PV_TABLE_FORMAT(TXBM, "XBM")
PV_TABLE_FORMAT(TXPM, "XPM")
PV_TABLE_FORMAT(TXWD, "XWD")
PV_TABLE_FORMAT(TWEBP, "WEBP")
PV_TABLE_FORMAT(TAVIF, "AVIF")
PV_TABLE_FORMAT(THEIC, "HEIC")
PV_TABLE_FORMAT(TJXL, "JXL")

#undef PV_TABLE_FORMAT

// Interlaced output for method 1.
class TGIF final : public Format {
 public:
  static constexpr std::string_view kKey = "GIF";
  explicit TGIF(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Icons are squares of the method's edge length.
class TICO final : public Format {
 public:
  static constexpr std::string_view kKey = "ICO";
  explicit TICO(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Animated cursors are always resized to 32 x 32.
class TANI final : public Format {
 public:
  static constexpr std::string_view kKey = "ANI";
  explicit TANI(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Cursors are 32 x 32.
class TCUR final : public Format {
 public:
  static constexpr std::string_view kKey = "CUR";
  explicit TCUR(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

class TPSD final : public Format {
 public:
  static constexpr std::string_view kKey = "PSD";
  explicit TPSD(const std::string& config) : Format(formatIndexOfKey(kKey), config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

}  // namespace pv::formats
