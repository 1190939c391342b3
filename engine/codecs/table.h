#pragma once
// The one table of codec families. A row says which file format codes a
// family writes and with which library, how it recognises a file it reads,
// which extensions it serves, its entry points, and how a page-mode-1 save
// adds pages to a file already there. Loading, saving, recognising files and
// `pictoravine --formats` all read this table; docs/extending.md walks
// through adding a row.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/codecs/codecs.h"

namespace pv::engine::codecs {

struct Codec;

// What a save is asked for: the file format code, the depth (0: the image's
// own), the quality factor, and the JPEG passes, GIF interlacing and TIFF
// append flags.
struct SaveRequest {
  short code = 0;
  int bits = 0;
  int quality = 0;
  int passes = 0;
  bool interlaced = false;
  bool append = false;
  bool tags = true;  // EXIF and XMP travel (the profile always does)
};

// Entry points. Each gets its own row, so one function serves several rows.
// `head` is up to the first 512 bytes of the file, `ext` its lower-case
// extension. A load gets the pages [page, page + pageCount) (page 0 or 1 is the
// first, count -1 every page from there); `facts`, when given, may be filled
// from the decode by readers whose facts cost a decode.
using SniffFn = bool (*)(const std::string& head, std::string_view ext);
using InfoFn = short (*)(const Codec& codec, const std::string& path, FileInfo& info);
using LoadFn = short (*)(const Codec& codec, const std::string& path, int page, int pageCount, Document& doc,
                         FileInfo* facts);
using SaveFn = short (*)(const Codec& codec, const std::string& path, const std::vector<Image>& pages,
                         const SaveRequest& request);
// Our own small codecs: the whole file's bytes to every page, and pages to bytes.
using DecodeFn = short (*)(const std::string& path, const std::string& bytes, Document& doc);
using HeaderFn = short (*)(const std::string& bytes, FileInfo& info);
using EncodeFn = short (*)(const std::vector<Image>& pages, int code, int bits, std::string& out);
// Opens `path` (a temporary name, written in place) for pages one at a time;
// null with a status when it cannot.
using OpenWriterFn = std::unique_ptr<PageSink> (*)(const std::string& path, const SaveRequest& request,
                                                   short& status);

struct Codec {
  std::string_view name;
  // The library named by `--formats`: for the codes it writes, and for the
  // extensions it reads.
  std::string_view writer = {};
  std::string_view reader = {};

  // ---- Writing
  std::span<const short> writes = {};
  bool (*writesCode)(int code) = nullptr;  // in place of `writes`, for a codec with a table of its own
  SaveFn save = nullptr;
  bool everyPage = false;  // writes every loaded page (else the current one)
  // Writes the pages of a file one at a time, so that neither the pages nor
  // the file are held whole (null: the pages are gathered and saved at once).
  OpenWriterFn openWriter = nullptr;
  // A page-mode-1 save adds to an existing file of one of these codes: its
  // pages are loaded and written again first.
  std::span<const short> addsTo = {};
  bool appends = false;           // a page-mode-1 save is added by the codec itself
  std::string_view refusal = {};  // no save: why the codes are not written
  // Its files hold EXIF, XMP, IPTC and a colour profile: the image's are
  // written into them after the save (else a profile's colours are turned
  // into sRGB before it).
  bool carriesMetadata = false;
  // Its files hold the metadata as blocks its own library reads and writes:
  // the load and the save handle them (with engine/metadata.h's blocks), not
  // exiv2 on the file.
  bool embedsMetadata = false;
  // Asked at run time: why the installed library cannot write these codes
  // (an encoder it was built without); empty when it can.
  std::string (*missing)() = nullptr;
  // The memory its encoder works with, in bytes a pixel of the image saved,
  // for a code and effort (the save's passes); null: a copy of the image at
  // four bytes a pixel. engine/capabilities.cpp says how it was measured.
  double (*workingBytes)(int code, int effort) = nullptr;

  // ---- Reading
  std::string_view extensions = {};                         // blank-separated, lower case
  bool (*servesExtension)(std::string_view ext) = nullptr;  // in place of `extensions`
  bool byExtension = false;                                 // recognised by extension before any content
  SniffFn sniff = nullptr;
  InfoFn info = nullptr;
  LoadFn load = nullptr;
  // Reads the pages one after another, so that a run over every page reads
  // the file once (null: each page is loaded on its own).
  std::unique_ptr<PageSource> (*openReader)(const std::string& path, short& status) = nullptr;
  short readsAs = 0;  // the code of every file it reads, when fixed
  // Extensions (blank-separated) of files that hold one picture at several
  // resolutions (a Photo CD's): the largest is chosen before a load.
  std::string_view resolutions = {};

  // ---- Our own codecs (the generic entry points below use these)
  DecodeFn decode = nullptr;
  HeaderFn header = nullptr;  // facts without a decode, where a decode is costly
  EncodeFn encode = nullptr;
  // A second file some formats keep beside the picture (a CUT's palette).
  EncodeFn companion = nullptr;
  std::string (*companionPath)(const std::string& path) = nullptr;

  bool canWrite(int code) const;
  bool servesExt(std::string_view ext) const;
  bool holdsResolutions(std::string_view ext) const;
};

std::span<const Codec> codecTable();

// The row that writes a code, or the row that refuses it with a reason; null
// when no row names it.
const Codec* codecWriting(int code);
// The reader of a file, by its first bytes and extension; null for none.
const Codec* codecReading(const std::string& head, std::string_view ext);

// Generic entry points of our own codecs, for their rows.
[[nodiscard]] short ownInfo(const Codec& codec, const std::string& path, FileInfo& info);
[[nodiscard]] short ownLoad(const Codec& codec, const std::string& path, int page, int pageCount,
                            Document& doc, FileInfo* facts);
[[nodiscard]] short ownSave(const Codec& codec, const std::string& path, const std::vector<Image>& pages,
                            const SaveRequest& r);

}  // namespace pv::engine::codecs
