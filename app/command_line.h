#pragma once
// The command line: splitting the program's arguments into switch tokens and
// applying them to the session (settings, output format, filter chain, image
// list), then deciding whether the job can run.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/session.h"

namespace pv::app {

inline constexpr const char* kHelpText =
    "Pictoravine Commandline Help\n\nSyntax: pictoravine /convert <format> /<output> /<images> "
    "/<optionalswitches>\n\nSee the help documentation for more information.";
inline constexpr const char* kNoOutputPlaceText =
    "Commandline Error: Please add /usesf or /output to specify where to put the converted images.";
inline constexpr const char* kNoFormatText =
    "Commandline Error: Please choose an output format using /convert.";
inline constexpr const char* kNoImagesText =
    "Commandline Error: No images added. Please choose the image(s) to convert using /file or /list.";

class SwitchParser;

// One command-line switch, declared once: the parser, the usage text and the
// manual's switch list (docs/command-line.md) are made from these rows. A
// token is tested against every row in table order and applied by each whose
// name it starts with (case-insensitively). Rows without a handler are
// options of the console front end, taken only as the one argument.
struct SwitchSpec {
  std::string_view name;
  std::string_view arguments;  // as the usage text shows them
  std::string_view usage;      // what it does; '\n' between lines
  std::string_view example;    // a whole switch with its arguments, or empty
  // Applies the token ("name arguments"), given its arguments (the text after
  // the name and one blank).
  void (*handler)(SwitchParser& parser, const std::string& token, const std::string& args);
  int helpOrder;  // its place in the usage text
};

std::span<const SwitchSpec> switchTable();

// The rows in the order the usage text, the man page and the manual show them.
std::vector<const SwitchSpec*> switchesInHelpOrder();

// The usage text: the synopsis, every switch with its arguments, what it
// does and an example, and the exit codes.
std::string usageText();

// Splits arguments into switch tokens ("name arguments..."): an argument that
// is '/' or "--" followed by text beginning with a switch name, and holding no
// further '/', starts a token; the arguments after it are its arguments,
// joined with blanks (with '|' for the path lists of file and list, so every
// path a shell expands stays one path). An argument "--text" that no switch
// name begins is an unknown switch: it and its arguments are left out (not
// taken as arguments of the switch before), and it is added to `unknown`.
std::vector<std::string> splitSwitchTokens(const std::vector<std::string>& args,
                                           std::vector<std::string>* unknown = nullptr);

// Sizes as --max-size and --memory take them: a number, with or without a
// fraction, then K or KB, M or MB, G or GB (powers of 1000), or no unit.
// --max-size's: kilobytes (also without a unit); empty below 1 KB or beyond
// 4 TB.
std::optional<std::uint32_t> parseSizeKb(std::string_view text);
// --memory's: megabytes (also without a unit); empty below 1 MB or beyond
// 2 PB.
std::optional<int> parseMemoryMb(std::string_view text);

// The warning for an unknown switch: "unknown switch --qualty ignored".
std::string unknownSwitchText(const std::string& arg);

struct ParseOutcome {
  bool proceed = false;     // the job may go on
  bool listFailed = false;  // a list file could not be read
  bool helpShown = false;
};

// Applies every token; runs the checks after the last one (with their
// messages while ShowMessages is on); in shell mode loads the shell options
// and the default shell profile. Relative paths of file are taken from the
// current folder.
ParseOutcome parseCommandLine(Session& session, const std::vector<std::string>& tokens);

// The process exit code after the command line's job: 130 after an
// interrupt, 0 when nothing failed and every list was read, else 1.
int commandLineExitCode(const Session& session, const ParseOutcome& parsed);

}  // namespace pv::app
