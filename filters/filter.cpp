#include "filters/filter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/text.h"
#include "engine/lead.h"

namespace pv::filters {

namespace {

bool inRange(int index) {
  return index >= 0 && index < filterCount();
}

// Tokens at spaces only; runs of spaces are one separator.
std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

// A decimal number: leading white space, a sign, digits up to the first other
// character; no digits read 0; beyond the signed 32-bit range the nearest limit.
std::int32_t decimal(const std::string& token) {
  errno = 0;
  const long long v = std::strtoll(token.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

}  // namespace

int filterCount() {
  return static_cast<int>(filterKinds().size());
}

const FilterKind* filterKind(int index) {
  return inRange(index) ? &filterKinds()[static_cast<std::size_t>(index)] : nullptr;
}
int FilterKind::index() const {
  return static_cast<int>(this - filterKinds().data());
}

std::string filterName(int index) {
  return inRange(index) ? std::string(filterKind(index)->name) : "";
}
std::string filterKey(int index) {
  return inRange(index) ? std::string(filterKind(index)->key) : "";
}
std::string filterDescription(int index) {
  return inRange(index) ? std::string(filterKind(index)->description) : "";
}

std::vector<std::string_view> Param::choiceTexts() const {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at < choices.size();) {
    const std::size_t end = std::min(choices.find('|', at), choices.size());
    out.push_back(choices.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

std::unique_ptr<Filter> createFilter(int index, FilterContext& context) {
  const FilterKind* kind = filterKind(index);
  return kind ? kind->make(*kind, context) : nullptr;
}

int filterIndexOfText(const std::string& text) {
  const std::vector<std::string> t = tokens(text.substr(0, 1499));
  if (t.size() < 2 || t[1].size() > 49) return 0;
  const std::string key = asciiLower(t[1]);
  for (const FilterKind& kind : filterKinds())
    if (key == kind.key) return kind.index();
  return 0;
}

Filter::Filter(const FilterKind& kind, FilterContext& context)
    : name(kind.name),
      key(kind.key),
      type(kind.index()),
      hasSettings(kind.params.empty() ? 0 : 1),
      kind_(kind),
      params_(kind.params),
      context_(context) {
  for (const Param& p : params_) values_.push_back(p.initial);
}

std::string Filter::toText() {
  std::string text = "/filter " + key;
  for (std::size_t i = 0; i < params_.size(); ++i) {
    text += ' ';
    const std::int32_t v = values_[i];
    switch (params_[i].style) {
      case Param::kUnsigned:
        text += std::to_string(static_cast<std::uint32_t>(v));
        break;
      case Param::kSigned:
        text += std::to_string(v);
        break;
      case Param::kWord:
        text += v ? "true" : "false";
        break;
      case Param::kFlag:
        text += v ? "1" : "0";
        break;
    }
  }
  return text.size() <= 99 ? text : std::string();
}

void Filter::fromText(const std::string& text) {
  const std::vector<std::string> t = tokens(text);
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const Param& p = params_[i];
    std::int32_t& v = values_[i];
    if (i + 2 < t.size()) {
      const std::string& token = t[i + 2];
      if (p.style == Param::kWord)
        v = token == "false" ? 0 : 1;
      else
        v = decimal(token);
    }
    switch (p.style) {
      case Param::kUnsigned: {
        const std::uint32_t u = static_cast<std::uint32_t>(v);
        if (u < static_cast<std::uint64_t>(p.low))
          v = static_cast<std::int32_t>(p.below);
        else if (u > static_cast<std::uint64_t>(p.high))
          v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.high));
        break;
      }
      case Param::kSigned:
        if (v < p.low)
          v = static_cast<std::int32_t>(p.below);
        else if (v > p.high)
          v = static_cast<std::int32_t>(p.high);
        break;
      case Param::kWord:
        break;
      case Param::kFlag:
        v = v != 0;
        break;
    }
  }
  afterRead();
}

void Filter::editSettings() {
  if (!hasSettings) {
    if (context_.inform) context_.inform(kNoSettingsText);
    return;
  }
  if (kind_.editOwn || !context_.editor) return;
  std::optional<std::vector<std::int32_t>> edited =
      context_.editor->edit(kind_, values_, lead().GetImageHandle());
  if (edited && edited->size() == values_.size()) values_ = std::move(*edited);
}

bool Filter::resamplesTo(int, int, int&, int&) const {
  return false;
}

void Filter::sourceSize(int& width, int& height) {
  if (context_.recordedSize && context_.recordedSize(width, height)) return;
  width = static_cast<int>(lead().GetImageWidth());
  height = static_cast<int>(lead().GetImageHeight());
}

}  // namespace pv::filters
