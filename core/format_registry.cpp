#include "core/format_registry.h"

namespace pv {

namespace {

const FormatRow* rowAt(int index) {
  return index >= 0 && index < kFormatCount ? &formatRegistry()[static_cast<std::size_t>(index)] : nullptr;
}

}  // namespace

std::string_view formatKey(int index) {
  return rowAt(index) ? rowAt(index)->key : std::string_view();
}
std::string_view formatExtension(int index) {
  return rowAt(index) ? rowAt(index)->extension : std::string_view();
}
std::string_view formatDescription(int index) {
  return rowAt(index) ? rowAt(index)->description : std::string_view();
}

}  // namespace pv
