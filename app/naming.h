#pragma once
// Output names: the full path of the file a conversion writes for one image
// list entry, from the naming settings and the output format's extension.

#include <functional>
#include <string>
#include <string_view>

#include "app/image_entry.h"
#include "app/settings.h"

namespace pv::app {

// The folder outputs of `entry` go to, ending in '/'. With
// UseSourcePathForOutput on it is the entry's folder; otherwise OutPutDir,
// which is put below the entry's folder unless it starts with '/'. Every
// folder along the way is created when missing (failures are left for the
// save to report).
std::string outputFolder(const Settings& settings, const ImageEntry& entry);

// A name pattern with its placeholder: the pattern itself when it holds "%n",
// else the pattern followed by `appended` ("-%n" or "-#%n"), the pattern
// shortened first when the two would exceed the 254-byte pattern limit.
std::string effectivePattern(std::string_view pattern, std::string_view appended);

// The pattern with `n` in place of its first "%n"; every other character,
// '%' included, is literal.
std::string fillPattern(std::string_view pattern, long long n);

// The tokens the texts before and after a name may hold, each replaced by
// what it says of the image: {date} and {time} taken (EXIF, else the file's
// modification time; YYYY-MM-DD and HH-MM-SS), {width} and {height} of the
// source, {camera} (the EXIF model, made safe for a file name), {name} (the
// source's name without its extension) and {folder} (its folder's name).
inline constexpr std::string_view kNameTokens[] = {"{date}",   "{time}", "{width}", "{height}",
                                                   "{camera}", "{name}", "{folder}"};

// Empty when every '{' of `text` starts a token, else the message that
// refuses it, with the list of tokens.
std::string nameTokenProblem(std::string_view text);

// `text` with its tokens replaced for `entry` (a text without '{' as it is).
std::string expandNameTokens(std::string_view text, const ImageEntry& entry);

// The output's file name without folder or numbering: FileNameBefore + base
// name + FileNameAfter (tokens expanded), the page pattern with `page` for
// page >= 1, "." and the extension in lower case; cut to fit a file name.
std::string outputFileName(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page);

// The output path of `entry`: folder + FileNameBefore + base name +
// FileNameAfter (+ the page pattern with `page` for page >= 1) + "." + the
// extension in lower case. With `avoidExisting`, a path at which any directory
// entry exists (file, folder, link, broken link, unreadable file) is replaced
// by the first free numbered name of the FileNameNumber pattern (k = 1, 2, ...).
// `taken`, when given, names paths that count as taken too (the names other
// images of a run have reserved).
std::string makeOutputName(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page,
                           bool avoidExisting, const std::function<bool(const std::string&)>& taken = {});

}  // namespace pv::app
