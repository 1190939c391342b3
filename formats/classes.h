#pragma once
// The 49 format classes. Most are fully described by their catalogue row; the
// ones with behaviour of their own are spelled out below.

#include "formats/format.h"

namespace pv::formats {

// A format whose every value comes from its catalogue row.
#define PV_TABLE_FORMAT(Class, Index) \
  class Class final : public Format { \
   public:                            \
    explicit Class(const std::string& config) : Format(Index, config) { LoadOptions(); } \
  };

PV_TABLE_FORMAT(TBMP, 1)
PV_TABLE_FORMAT(TPNG, 2)
PV_TABLE_FORMAT(TCLP, 6)
PV_TABLE_FORMAT(TAWD, 8)
PV_TABLE_FORMAT(TCAL, 9)
PV_TABLE_FORMAT(TCIN, 10)
PV_TABLE_FORMAT(TCMP2, 12)
PV_TABLE_FORMAT(TCUT, 14)
PV_TABLE_FORMAT(TEMF, 15)
PV_TABLE_FORMAT(TEPS, 16)
PV_TABLE_FORMAT(TEXIF, 17)
PV_TABLE_FORMAT(TFAX, 18)
PV_TABLE_FORMAT(TFLC, 19)
PV_TABLE_FORMAT(TICA, 20)
PV_TABLE_FORMAT(TIFF, 21)
PV_TABLE_FORMAT(TIFF2, 22)
PV_TABLE_FORMAT(TIMG, 23)
PV_TABLE_FORMAT(TITG, 24)
PV_TABLE_FORMAT(TMAC, 25)
PV_TABLE_FORMAT(TMSP, 26)
PV_TABLE_FORMAT(TPBM, 27)
PV_TABLE_FORMAT(TPCT, 28)
PV_TABLE_FORMAT(TPCX, 29)
PV_TABLE_FORMAT(TPGM, 30)
PV_TABLE_FORMAT(TPPM, 31)
PV_TABLE_FORMAT(TPSP, 33)
PV_TABLE_FORMAT(TRAS, 34)
PV_TABLE_FORMAT(TRAW, 35)
PV_TABLE_FORMAT(TSCT, 36)
PV_TABLE_FORMAT(TSFF, 37)
PV_TABLE_FORMAT(TSGI, 38)
PV_TABLE_FORMAT(TSMP, 39)
PV_TABLE_FORMAT(TTIFX, 40)
PV_TABLE_FORMAT(TTGA, 41)
PV_TABLE_FORMAT(TWBMP, 42)
PV_TABLE_FORMAT(TWFX, 43)
PV_TABLE_FORMAT(TWMF, 44)
PV_TABLE_FORMAT(TWPG, 45)
PV_TABLE_FORMAT(TXBM, 46)
PV_TABLE_FORMAT(TXPM, 47)
PV_TABLE_FORMAT(TXWD, 48)

#undef PV_TABLE_FORMAT

// JPEG keeps colour: a source depth below 24 is saved with 24 bits.
class TJPG final : public Format {
 public:
  explicit TJPG(const std::string& config) : Format(0, config) { LoadOptions(); }

 protected:
  bool keepsColourFor(std::uint32_t) const override { return true; }
};

// TIFF's JPEG and CMP methods keep colour like JPG.
class TTIF final : public Format {
 public:
  explicit TTIF(const std::string& config) : Format(5, config) { LoadOptions(); }

 protected:
  bool keepsColourFor(std::uint32_t m) const override { return m == 6 || m == 7 || m == 8 || m == 12; }
};

class TCMP final : public Format {
 public:
  explicit TCMP(const std::string& config) : Format(11, config) { LoadOptions(); }

 protected:
  bool keepsColourFor(std::uint32_t) const override { return true; }
};

// Interlaced output for method 1.
class TGIF final : public Format {
 public:
  explicit TGIF(const std::string& config) : Format(3, config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Icons are squares of the method's edge length.
class TICO final : public Format {
 public:
  explicit TICO(const std::string& config) : Format(4, config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Animated cursors are always resized to 32 x 32.
class TANI final : public Format {
 public:
  explicit TANI(const std::string& config) : Format(7, config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

// Cursors are 32 x 32.
class TCUR final : public Format {
 public:
  explicit TCUR(const std::string& config) : Format(13, config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

class TPSD final : public Format {
 public:
  explicit TPSD(const std::string& config) : Format(32, config) { LoadOptions(); }
  bool PrepareImage(engine::CLead& lead) override;
};

}  // namespace pv::formats
