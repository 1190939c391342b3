// Writes the man page pictoravine.1 and the manual's generated pages (the
// switches, from the command line's switch table, and the formats, from what
// this build reads and writes), so both always say what this build does. Run
// by the build; installed with the program.
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/console.h"
#include "pv_version.h"

namespace {

std::string roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

std::string html(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// "/name" for a switch, "--name" for an option of the console front end.
std::string spelling(const pv::app::SwitchSpec& row) {
  return (row.handler ? "/" : "--") + std::string(row.name);
}

// The usage text's lines, joined into running text.
std::string sentence(std::string_view usage) {
  std::string s(usage);
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

std::string manPage() {
  std::string m = ".TH PICTORAVINE 1 \"\" \"Pictoravine " PV_VERSION_TEXT "\" \"User Commands\"\n";
  m += ".SH NAME\npictoravine \\- convert folders of images between formats through a chain of filters\n";
  m += ".SH SYNOPSIS\n.B pictoravine\n.RI [ /open \" \" /list \" file\"]\n.br\n"
       ".B pictoravine /convert\n.I format\n.RI [ \"method depth quality passes\" ]\n"
       ".RB ( /usesf \" | \" /output\n.IR folder )\n.RB ( /file\n.IR paths \" | \"\n.B /list\n"
       ".IR \"list files\" \" | \"\n.BR /cbpaste )\n.RI [ switches ]\n";
  m += ".SH DESCRIPTION\n"
       "Pictoravine loads each image, runs it through an ordered chain of filters and saves it in one "
       "output format with that format's method, quality, colour depth and passes. Without arguments, "
       "and with a display, it opens its window; with a conversion on its command line and no display "
       "(or with \\-\\-console) it runs in the terminal. Every run writes a log; failures are gathered "
       "in an error summary.\n.PP\n"
       "Every switch may also be written with \"\\-\\-\" (\\-\\-convert). Paths given to /file and /list "
       "may be separated by \"|\" or given as separate arguments.\n";
  m += ".SH OPTIONS\n";
  for (const pv::app::SwitchSpec* row : pv::app::switchesInHelpOrder()) {
    // The tag line: the switch in bold, its arguments in italics.
    m += ".TP\n.BI \"" + roff(spelling(*row)) + (row->arguments.empty() ? "" : " ") + "\" \"" +
         roff(row->arguments) + "\"\n";
    m += roff(sentence(row->usage)) + ".\n";
    if (!row->example.empty()) m += "For example: \\fB" + roff(row->example) + "\\fR\n";
  }
  m += ".SH EXIT STATUS\n.TP\n0\nevery image converted\n.TP\n1\nan image failed or a list could not be read\n"
       ".TP\n2\nthe command line was rejected\n.TP\n130\ninterrupted\n";
  m += ".SH FILES\n.TP\n.I ~/.config/Pictoravine/config.ini\nthe settings\n"
       ".TP\n.I ~/.config/Pictoravine/Profiles/*.pvp\nsaved filter chains (profiles)\n";
  m += ".SH ENVIRONMENT\n.TP\n.B PICTORAVINE_DATA_DIR\nthe folder of the settings, profiles and log "
       "instead of ~/.config/Pictoravine\n";
  m += ".SH SEE ALSO\nThe manual, /usr/share/pictoravine/help/index.html\n";
  return m;
}

std::string switchesPage() {
  std::string h =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Pictoravine: the command line</title>\n<link rel=\"stylesheet\" href=\"manual.css\">\n</head>\n<body>\n"
      "<p><a href=\"index.html\">Pictoravine manual</a></p>\n<h1>The command line</h1>\n<pre>" +
      html(pv::app::usageText().substr(0, pv::app::usageText().find("\n\n"))) +
      "</pre>\n<dl>\n";
  for (const pv::app::SwitchSpec* row : pv::app::switchesInHelpOrder()) {
    h += "<dt><code>" + html(spelling(*row)) + "</code>";
    if (!row->arguments.empty()) h += " <var>" + html(row->arguments) + "</var>";
    h += "</dt>\n<dd>" + html(sentence(row->usage)) + ".";
    if (!row->example.empty()) h += " For example: <code>" + html(row->example) + "</code>";
    h += "</dd>\n";
  }
  h += "</dl>\n<h2>Exit codes</h2>\n<p>0 every image converted, 1 an image failed or a list could not be read, "
       "2 the command line was rejected, 130 interrupted.</p>\n</body>\n</html>\n";
  return h;
}

std::string formatsPage() {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>Pictoravine: formats</title>\n<link rel=\"stylesheet\" href=\"manual.css\">\n</head>\n<body>\n"
         "<p><a href=\"index.html\">Pictoravine manual</a></p>\n<h1>Formats</h1>\n"
         "<p>What this build writes (every output format with its methods) and reads (every input "
         "extension with its reader).</p>\n<pre>" +
         html(pv::app::formatsText()) + "</pre>\n</body>\n</html>\n";
}

bool write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: pv_make_docs <man page> <manual folder>\n";
    return 2;
  }
  const std::string help = argv[2];
  return write(argv[1], manPage()) && write(help + "/command-line.html", switchesPage()) &&
                 write(help + "/formats.html", formatsPage())
             ? 0
             : 1;
}
