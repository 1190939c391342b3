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
