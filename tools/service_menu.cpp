// Writes Dolphin's service menu as the program's options page does, for the
// file-manager smoke run: pv_service_menu <config.ini> <program> <folder>.
// Prints why it could not, and exits 1 then.
#include <iostream>

#include "shellext/file_managers.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: pv_service_menu <config.ini> <program> <folder>\n";
    return 2;
  }
  const std::string problem = pv::shell::updateServiceMenu(argv[1], argv[2], argv[3]);
  if (!problem.empty()) std::cerr << problem << "\n";
  return problem.empty() ? 0 : 1;
}
