#pragma once
// The catalogue: per format, its methods (name, file format code, allowed
// depths), quality range, passes and option defaults.

#include <cstdint>
#include <span>
#include <string_view>

namespace pv::formats {

// Bit i stands for kDepthList[i] (1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32).
using DepthMask = std::uint16_t;

struct MethodRow {
  std::string_view name;  // empty for the one method of a single-method format
  int code;               // the engine's file format code
  DepthMask depths;
};

struct FormatCatalogueRow {
  std::string_view key;
  std::span<const MethodRow> methods;
  bool hasQuality;
  int qualityStart, qualityEnd;
  bool hasPasses;
  // Defaults: method, quality when the key is missing, quality after a reset.
  std::uint32_t defaultMethod;
  int qualityMissing, qualityReset;
};

// Rows by registry index 0..48.
const FormatCatalogueRow& catalogueRow(int index);

}  // namespace pv::formats
