#pragma once
// INI files with private-profile semantics: section and key names compare
// case-insensitively; a missing file, section or key reads as the caller's
// default; a write changes one key in place and keeps every other byte of the
// file (comments, order, blank lines, unknown sections and keys, line ends).
// Files are replaced atomically (temporary file + rename), so a crash never
// leaves a half-written file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pv::ini {

// One INI file held in memory as its lines. Any bytes load: lines that are
// neither a section header nor "key=value" are kept and otherwise ignored.
class Document {
 public:
  // Reads `path`; a missing or unreadable file gives an empty document.
  static Document load(const std::string& path);
  static Document parse(std::string_view text);

  // The value of the first `key` in the first section named `section`, with
  // blanks around it removed and one pair of enclosing quotes taken off.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;

  // Sets `key` in `section`: replaces the value of an existing line (keeping the
  // key's spelling), or adds "key=value" after the section's last entry, or
  // appends a new section at the end.
  void set(std::string_view section, std::string_view key, std::string_view value);

  std::string text() const;

  // Writes the document to `path` atomically; false when it could not.
  bool save(const std::string& path) const;

 private:
  struct Line {
    std::string body;  // without its line end
    std::string end;   // "\n", "\r\n", "\r\r\n" or "" for a last line without one
  };
  std::vector<Line> lines_;
  std::string newline_ = "\n";  // line end for added lines: the file's own style
};

// One-call helpers: each read sees the file as it is now, each write changes
// one key of the file as it is now.
std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback);
bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

// Writes `text` to `path` through a temporary file in the same folder and a
// rename; the previous file stays whole when anything fails. The file keeps
// the permissions of the one it replaces (0644 when new), unless `mode` is
// given.
bool replaceFileAtomically(const std::string& path, std::string_view text, unsigned mode = 0);

}  // namespace pv::ini
