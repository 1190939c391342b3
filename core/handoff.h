#pragma once
// The list files by which the file-manager menu hands a selection to the
// program. Each hand-off gets a file of its own in the data folder, so two
// quick hand-offs never overwrite each other's list; the program removes a
// hand-off file once it has read it, and files left behind by a program that
// never started are removed by a later hand-off.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pv {

// Creates <data folder>/pictoravine-XXXXXX.dat (a new name, made with
// O_EXCL) holding one path a line; nullopt when it cannot be written (a
// partly written file is removed).
std::optional<std::string> writeHandOffList(const std::vector<std::string>& paths);

// True for a file that writeHandOffList made: its folder is the data folder
// and its name has the hand-off pattern.
bool isHandOffList(const std::string& path);

// Removes the hand-off files of the data folder older than `age`; returns
// how many it removed.
int removeStaleHandOffLists(std::chrono::seconds age);

}  // namespace pv
