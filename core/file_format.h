#pragma once
// Every file format code the engine reads or writes, by name. A code says how
// a file is (or is to be) stored: the family and, where a family has several,
// the compression or layout. Codes below 1000 are the imaging interface's own;
// codes from 1000 on are ours, for formats read that no output format writes;
// codes from 2000 on are ours too, for the output formats added after the
// first 49.
// Codecs, the output format table, the run and the log name codes only
// through this header. It lives in core/ because the format table that the
// file-manager plugin shares names codes too; it is constants only, and the
// one header of core/ that the engine includes.

namespace pv::fmt {

enum Code : short {
  // Raster formats with a family of their own.
  kPcx = 1,
  kGif = 2,
  kTga = 4,
  kTgaRle = 262,
  kBmp = 6,
  kBmpRle = 84,
  kOs2Bmp = 14,
  kOs2Bmp2 = 74,
  kPng = 75,
  kPsd = 76,
  kPict = 56,
  kSunRaster = 55,
  kSgi = 142,
  kSgiRle = 143,
  kWbmp = 170,
  kXbm = 110,
  kXpm = 109,
  kXwd10 = 132,
  kXwd11 = 133,
  kPbmAscii = 102,
  kPbm = 103,
  kPgmAscii = 104,
  kPgm = 105,
  kPpmAscii = 106,
  kPpm = 107,
  kCineon = 298,
  kEps = 16,
  kRawData = 153,
  kScitexCt = 250,
  kWpg = 54,
  kFlc = 134,
  kCut = 108,
  kGemImg = 52,
  kMacPaint = 51,
  kMsp = 53,
  kPsp = 267,
  kPspRle = 268,
  kAwd = 99,
  kCmp = 5,
  kCmp2 = 26,

  // JPEG: the colour subsampling (4:4:4 also carries lossless JPEG) and the
  // CIELab methods.
  kJpeg = 10,
  kJpeg422 = 23,
  kJpeg411 = 21,
  kJpegLab = 171,
  kJpegLab411 = 172,
  kJpegLab422 = 173,

  // TIFF: layout and compression.
  kTiff = 3,
  kTiffCmyk = 85,
  kTiffYcc = 93,
  kTiffPackbits = 87,
  kTiffPackbitsCmyk = 88,
  kTiffPackbitsYcc = 95,
  kTiffJpeg = 11,
  kTiffJpeg422 = 24,
  kTiffJpeg411 = 22,
  kTiffLzw = 17,
  kTiffLzwCmyk = 86,
  kTiffLzwYcc = 94,
  kTiffCmp = 138,
  kTiffFax = 276,  // internet fax
  kExifTiffRgb = 96,
  kExifTiffYcc = 97,
  kExifJpeg = 98,
  kExifJpeg2 = 101,

  // Windows resources and containers of one bitmap.
  kIcon = 91,
  kCursor = 92,
  kAnimatedCursor = 119,
  kClipboard = 114,
  kWmf = 15,
  kEmf = 116,

  // Bilevel and fax formats.
  kCals = 50,
  kCalsG4 = 130,
  kCalsFaxG4 = 131,
  kCalsTiled = 129,
  kFaxG3 = 66,
  kFaxG3_2D = 67,
  kFaxG4 = 68,
  kSff = 302,
  kWfxG3 = 69,
  kWfxG4 = 70,
  kItg = 122,
  kItgG4 = 301,
  kSmp = 256,
  kSmpG3 = 257,
  kSmpG3_2D = 258,
  kSmpG4 = 259,
  kModcaG3 = 71,
  kModcaG3_2D = 72,
  kModcaG4 = 73,
  kModcaMmr = 117,
  kModcaRaw = 253,
  kIcaG3 = 77,
  kIcaG3_2D = 78,
  kIcaG4 = 79,
  kIcaMmr = 118,
  kIcaRaw = 254,

  // IFF ILBM: one picture, or a CAT list of pictures.
  kIff = 111,
  kIffRaw = 303,
  kIffCat = 112,
  kIffCatRaw = 304,

  // Read only.
  kOtherMagick = 1000,  // any other format ImageMagick reads
  kDcx = 1001,
  kPam = 1002,
  kPhotoCd = 1003,
  kFlashPix = 1004,
  kDds = 1005,
  kJpeg2000 = 1007,
  kPfm = 1008,
  kHdr = 1009,
  kFits = 1010,
  kXcf = 1011,
  kMiff = 1012,
  kViff = 1013,
  kDpx = 1014,
  kExr = 1015,
  kJng = 1016,
  kMng = 1017,
  kOtb = 1018,
  kPalm = 1019,
  kPix = 1020,
  kRla = 1021,
  kVicar = 1022,
  kAvs = 1023,
  kMtv = 1024,
  kSfw = 1025,
  kHrz = 1026,
  kCameraRaw = 1030,

  // Today's photo formats, lossy and lossless each (HEIC lossy only: the
  // installed libheif's lossless mode is off by one in some samples).
  kWebp = 2000,
  kWebpLossless = 2001,
  kAvif = 2002,
  kAvifLossless = 2003,
  kHeic = 2004,
  kJxl = 2006,
  kJxlLossless = 2007,
};

// Icons, cursors and animated cursors: their transparent pixels are selected
// as a region when loaded, and their depth is kept by the output.
constexpr bool isIconFamily(int code) {
  return code == kIcon || code == kCursor || code == kAnimatedCursor;
}

// TIFF written as CMYK: its 32 bits are four inks, not colour and alpha.
constexpr bool isCmyk(int code) { return code == kTiffCmyk || code == kTiffPackbitsCmyk || code == kTiffLzwCmyk; }

}  // namespace pv::fmt
