#pragma once
// Messages that several parts of the program show.

namespace pv::app {

inline constexpr const char* kFileSaveFailedText = "Could not save the file. Perhaps it is in use or write-protected?";
inline constexpr const char* kFileLoadFailedText = "Could not load the file. Perhaps it is in use or write-protected?";

}  // namespace pv::app
