#pragma once
// Profiles: named filter chains saved as text files (one filter text form per
// line) in the Profiles folder of the data folder.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ports.h"
#include "app/settings.h"
#include "app/texts.h"
#include "filters/chain.h"

namespace pv::formats {
class Format;
}

namespace pv::app {

class Session;

inline constexpr const char* kProfileLoadFailedText =
    "Could not load specified Profile file. Perhaps it is in use or write-protected?";
inline constexpr const char* kProfileExistsText = "The profile already exists. Do you want to overwrite it?";
inline constexpr const char* kProfileSaveFailedText = kFileSaveFailedText;
inline constexpr const char* kProfileRenameFailedText =
    "I couldn't rename the filter profile you chose! Are you sure it's not in use or write-protected?";
inline constexpr const char* kProfileDeleteFailedText =
    "I couldn't delete the filter profile you chose! Are you sure it's not in use or write-protected?";

// What a profile saved "with its output" keeps after its filters, as lines
// in the command line's own words: "/convert KEY method depth quality
// passes", "/max-size 300K" (a size limit), "/usesf" or "/output FOLDER" (a
// relative folder: below each source), and "/keep-folders". Profiles saved
// without it hold filters only, as they always did.
struct ProfileOutput {
  std::string convertWords;  // "convert KEY m d q p"; empty: no format kept
  std::uint32_t maxSizeKb = 0;
  std::optional<OutputPlace> place;
  bool keepFolders = false;
  bool any() const { return !convertWords.empty() || place.has_value(); }
};
// The lines of the session's format and output place.
ProfileOutput outputOf(const Settings& settings, const formats::Format& format);
// Makes `output` the session's: the format with its options (stored as the
// format options dialog stores them, so choosing the format again keeps
// them) and the output place. An unknown format key or an empty folder
// changes that part nothing.
void applyProfileOutput(Session& session, const ProfileOutput& output);

// Appends the profile's filters to the chain (which is not emptied first).
// Carriage returns, line feeds and blanks at the end of the name are ignored.
// Output lines fill `output` when given, and are skipped otherwise (a
// command line names its own format and place).
bool loadProfile(const Settings& settings, filters::FilterChain& chain, std::string_view name, Prompter& prompter,
                 ProfileOutput* output = nullptr);

// Writes the chain as the profile, replacing the file in one step, with the
// output lines of `output` after the filters when given. An existing
// profile is overwritten only when the user agrees; with ShowMessages off it
// is left alone and the result is false.
bool saveProfile(const Settings& settings, const filters::FilterChain& chain, std::string_view name,
                 Prompter& prompter, const ProfileOutput* output = nullptr);

// The names of the saved profiles, sorted.
std::vector<std::string> listProfiles();

// The window's chain between sessions: kept in the data folder as
// "last-chain.pvp" (beside, not among, the named profiles). Loading appends
// its filters and says nothing when there is none; saving replaces it in one
// step (an empty chain leaves an empty file).
inline constexpr const char* kLastChainFile = "last-chain.pvp";
void loadLastChain(filters::FilterChain& chain);
bool saveLastChain(const filters::FilterChain& chain);

bool renameProfile(const Settings& settings, std::string_view oldName, std::string_view newName, Prompter& prompter);
bool deleteProfile(const Settings& settings, std::string_view name, Prompter& prompter);

}  // namespace pv::app
