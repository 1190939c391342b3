#include "core/ini.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "core/text.h"

namespace pv::ini {

namespace {

std::string_view trim(std::string_view s) {
  const char* blanks = " \t";
  auto b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string_view> sectionName(std::string_view line) {
  std::string_view t = trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  auto close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(t.substr(1, close - 1));
}

// The key of a "key=value" line (not a comment), or nothing.
std::optional<std::string_view> keyName(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return std::nullopt;
  auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return trim(line.substr(0, eq));
}

// a + b + c in one allocation (also keeps g++ 12 free of a false -Wrestrict).
std::string joined(std::string_view a, std::string_view b, std::string_view c) {
  std::string out;
  out.reserve(a.size() + b.size() + c.size());
  out.append(a).append(b).append(c);
  return out;
}

}  // namespace

Document Document::parse(std::string_view text) {
  Document doc;
  bool styleSeen = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    Line line;
    if (nl == std::string_view::npos) {
      line.body = std::string(text.substr(pos));
      pos = text.size();
    } else {
      std::size_t bodyEnd = nl;
      while (bodyEnd > pos && text[bodyEnd - 1] == '\r') --bodyEnd;
      line.body = std::string(text.substr(pos, bodyEnd - pos));
      line.end = std::string(text.substr(bodyEnd, nl + 1 - bodyEnd));
      pos = nl + 1;
      if (!styleSeen) {
        doc.newline_ = line.end;
        styleSeen = true;
      }
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

Document Document::load(const std::string& path) {
  // Anything but a readable regular file (a folder, a device) reads as empty.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Document();
  struct stat st {};
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[16384];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return parse(text);
}

std::optional<std::string> Document::get(std::string_view section, std::string_view key) const {
  bool inSection = false, sectionSeen = false;
  for (const auto& line : lines_) {
    if (auto name = sectionName(line.body)) {
      // Only the first section of that name counts, as with the platform's reader.
      if (inSection) return std::nullopt;
      inSection = !sectionSeen && iequals(*name, trim(section));
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    if (auto k = keyName(line.body); k && iequals(*k, trim(key))) {
      std::string_view v = trim(std::string_view(line.body).substr(line.body.find('=') + 1));
      if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
      return std::string(v);
    }
  }
  return std::nullopt;
}

void Document::set(std::string_view section, std::string_view key, std::string_view rawValue) {
  section = trim(section);
  key = trim(key);
  // A line end inside a value would split it into lines of its own.
  std::string value(rawValue);
  for (char& c : value)
    if (c == '\r' || c == '\n') c = ' ';
  std::size_t i = 0;
  for (; i < lines_.size(); ++i)
    if (auto name = sectionName(lines_[i].body); name && iequals(*name, section)) break;

  if (i == lines_.size()) {
    // A new section at the end, after a blank line when the file has text.
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = newline_;
    if (!lines_.empty() && !trim(lines_.back().body).empty()) lines_.push_back({"", newline_});
    lines_.push_back({joined("[", section, "]"), newline_});
    lines_.push_back({joined(key, "=", value), newline_});
    return;
  }

  std::size_t lastEntry = i;  // the header, or the section's last non-blank line
  for (std::size_t j = i + 1; j < lines_.size(); ++j) {
    const std::string& body = lines_[j].body;
    if (sectionName(body)) break;
    if (auto k = keyName(body); k && iequals(*k, key)) {
      // Keep the key's spelling and the blanks after '='.
      std::size_t valueAt = body.find('=') + 1;
      while (valueAt < body.size() && (body[valueAt] == ' ' || body[valueAt] == '\t')) ++valueAt;
      lines_[j].body = joined(std::string_view(body).substr(0, valueAt), "", value);
      return;
    }
    if (!trim(body).empty()) lastEntry = j;
  }
  if (lines_[lastEntry].end.empty()) lines_[lastEntry].end = newline_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastEntry) + 1,
                Line{joined(key, "=", value), newline_});
}

std::string Document::text() const {
  std::string out;
  for (const auto& line : lines_) {
    out += line.body;
    out += line.end;
  }
  return out;
}

bool Document::save(const std::string& path) const { return replaceFileAtomically(path, text()); }

bool replaceFileAtomically(const std::string& path, std::string_view text, unsigned mode) {
  std::string tmp = path + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  // Keep the permissions of the file being replaced.
  struct stat st {};
  if (mode == 0) mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  fchmod(fd, mode);
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

std::string readString(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view fallback) {
  auto v = Document::load(path).get(section, key);
  return v ? *v : std::string(fallback);
}

bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
  Document doc = Document::load(path);
  doc.set(section, key, value);
  return doc.save(path);
}

}  // namespace pv::ini
