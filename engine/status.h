#pragma once
// Status numbers of the imaging operations: 0 success, else one of these;
// and the one guard that turns an exception into a status.

#include <exception>
#include <new>
#include <type_traits>

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
  kUnspecified = 20149,  // an exception other than a failed allocation
};

// Runs one step and gives its status: what it returns (a step that returns
// nothing gives kOk), kOutOfMemory when an allocation inside it failed, and
// kUnspecified for any other exception. Callers that only need the step not
// to throw ignore the result.
template <typename Step>
short guarded(Step&& step) {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Step&>>) {
      step();
      return kOk;
    } else {
      return static_cast<short>(step());
    }
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::exception&) {
    return kUnspecified;
  }
}

}  // namespace pv::engine
