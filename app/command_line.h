#pragma once
// The command line: splitting the program's arguments into switch tokens and
// applying them to the session (settings, output format, filter chain, image
// list), then deciding whether the job can run.

#include <string>
#include <vector>

#include "app/session.h"

namespace pv::app {

inline constexpr const char* kHelpText =
    "Pictoravine Commandline Help\n\nSyntax: Pictoravine.exe /convert <format> /<output> /<images> "
    "/<optionalswitches>\n\nSee the help documentation for more information.";
inline constexpr const char* kNoOutputPlaceText =
    "Commandline Error: Please add /usesf or /output to specify where to put the converted images.";
inline constexpr const char* kNoFormatText = "Commandline Error: Please choose an output format using /convert.";
inline constexpr const char* kNoImagesText =
    "Commandline Error: No images added. Please choose the image(s) to convert using /file or /list.";

// The switch names in the order each token is tested against them.
extern const std::vector<std::string> kSwitchNames;

// Splits arguments into switch tokens ("name arguments..."): an argument that
// is '/' or "--" followed by text beginning with a switch name, and holding no
// further '/', starts a token; the arguments after it are its arguments,
// joined with blanks (with '|' for the path lists of file and list, so every
// path a shell expands stays one path).
std::vector<std::string> splitSwitchTokens(const std::vector<std::string>& args);

struct ParseOutcome {
  bool proceed = false;     // the job may go on
  bool listFailed = false;  // a list file could not be read
  bool helpShown = false;
};

// Applies every token; runs the checks after the last one (with their
// messages while ShowMessages is on); in shell mode loads the shell options
// and the default shell profile. Relative paths of file are taken from the
// current folder.
ParseOutcome ParseCommandLine(Session& session, const std::vector<std::string>& tokens);

}  // namespace pv::app
