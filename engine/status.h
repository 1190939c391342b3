#pragma once
// Status numbers of the imaging operations: 0 success, else one of these.

namespace pv::engine {

enum Status : short {
  kOk = 0,
  kFailed = 20000,
  kOutOfMemory = 20001,
  kWriteError = 20005,
  kDamaged = 20007,
  kNotAnImage = 20009,
  kFileNotFound = 20010,
  kUnsupportedSubtype = 20012,
  kInvalidParameter = 20013,
  kCannotOpen = 20014,
  kNotSupported = 20016,
  kTooLarge = 20108,
  kDiskFull = 20114,
  kCannotCreate = 20131,
  kEmptyImage = 20144,
};

}  // namespace pv::engine
