#include "app/console.h"

#include <ostream>

#include "core/text.h"
#include "engine/libraries.h"
#include "pv_version.h"

namespace pv::app {

namespace {

// A switch given as "/name" or "--name", matched case-insensitively.
bool isSwitch(const std::string& arg, std::string_view name) {
  std::string_view body(arg);
  if (body.starts_with("--"))
    body.remove_prefix(2);
  else if (body.starts_with("/"))
    body.remove_prefix(1);
  else
    return false;
  return pv::iequals(body, name);
}

}  // namespace

std::string versionText() { return std::string("Pictoravine ") + PV_VERSION_TEXT; }

int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && isSwitch(args[0], "version")) {
    out << versionText() << "\n";
    return 0;
  }
  if (args.size() == 1 && isSwitch(args[0], "libraries")) {
    for (const auto& lib : pv::engine::libraryVersions()) out << lib.name << " " << lib.version << "\n";
    return 0;
  }
  // The conversion command line is not built yet: say so instead of pretending.
  err << versionText() << ": this build understands only --version and --libraries; "
      << "the conversion command line is not available yet.\n";
  return 2;
}

}  // namespace pv::app
