#pragma once
// What a photo carries besides its pixels: EXIF (camera, date taken, GPS,
// orientation), XMP and IPTC, and its colour profile. Read from a source with
// exiv2 when it is loaded, kept with its pages through every operation, and
// written into outputs that can hold it; outputs that cannot hold a profile
// get their pixels converted to sRGB with lcms2 instead.

#include <memory>
#include <string>
#include <string_view>

namespace pv::engine {

struct Image;
struct Metadata;  // exiv2's data, opaque outside metadata.cpp

// The metadata of the file at `path`; null when it has none or exiv2 does not
// know the file. A damaged block is dropped, with the reason in `problem`.
std::shared_ptr<const Metadata> readMetadata(const std::string& path, std::string& problem);

// When the photo was taken (EXIF DateTimeOriginal, "YYYY:MM:DD HH:MM:SS")
// and the camera's model; empty where the metadata has none.
struct PhotoFacts {
  std::string taken, camera;
};
PhotoFacts photoFacts(const Metadata& m);

// The EXIF orientation (1..8; 1 when none or out of range).
int orientationOf(const Metadata& m);

// Turns `image` upright by its metadata's orientation (mirrors and quarter
// turns, no resampling); its metadata then says orientation 1. Nothing
// happens at orientation 1.
void orientUpright(Image& image);

// Writes `image`'s metadata into the file at `path` (JPEG, PNG or TIFF): the
// profile always, EXIF, XMP and IPTC when `tags`; the pixel dimensions set to
// the image's, the EXIF thumbnail dropped (it shows the source, not the
// output) and the tags that describe a TIFF's layout left out. The file is
// written again through a temporary file and a rename, or in place when it
// is itself a save's temporary file. False, with the reason, when exiv2 could
// not; the file is then as the codec wrote it, unless `written` (the status
// of writing the file again) is not kOk.
bool writeMetadata(const std::string& path, const Image& image, bool tags, std::string& problem,
                   short* written = nullptr);

// The blocks an encoder embeds itself, for containers that hold them as
// items or chunks of their own (WebP, AVIF, HEIC, JPEG XL): the profile
// always; EXIF (a block from its TIFF header on, prepared as for
// writeMetadata) and the XMP packet when `tags`. Empty where there is none.
struct MetadataBlocks {
  std::string exif, xmp, icc;
};
MetadataBlocks metadataBlocks(const Image& image, bool tags);

// The metadata of blocks a decoder found in its container. `exif` may start
// with "Exif\0\0" or an offset before its TIFF header. `upright`: the decoder
// has already turned the picture (the container's own orientation rules), so
// the EXIF orientation is set to 1. Null when every block is empty; a damaged
// block is dropped, with the reason in `problem`.
std::shared_ptr<const Metadata> metadataFromBlocks(std::string_view exif, std::string_view xmp,
                                                   std::string_view icc, bool upright, std::string& problem);

// Converts colour pixels (B G R, or B G R A with alpha kept) from the image's
// RGB profile to sRGB; true when converted, and the image then has no profile.
// Grey pictures and other profiles are left as they are.
bool convertToSrgb(Image& image);

// Leaves out where the photo was taken: the EXIF GPS directory and its
// pointer, and XMP's exif:GPS properties; every other tag stays.
void dropLocation(Image& image);

// Drops a profile that does not describe the pixels: a CMYK profile of a
// picture decoded to RGB (the decoder applied it), or an RGB profile of a
// grey one.
void dropForeignProfile(Image& image);

// Process-wide preparation of exiv2 (its XMP toolkit is not thread-safe until
// it is initialised, and its warnings go to standard error); called once.
void startExiv2();

}  // namespace pv::engine
