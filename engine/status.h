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
  kOutOfMemory = 20107,  // "Not enough memory available"
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

// The status an exception stands for: kOutOfMemory for a failed allocation
// (the library's own kind of one too), kUnspecified for anything else.
short statusOf(const std::exception& e);

// Runs one step and gives its status: what it returns (a step that returns
// nothing gives kOk), or the status of an exception thrown inside it.
// Callers that only need the step not to throw ignore the result.
template <typename Step>
short guarded(Step&& step) {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Step&>>) {
      step();
      return kOk;
    } else {
      return static_cast<short>(step());
    }
  } catch (const std::exception& e) {
    return statusOf(e);
  }
}

}  // namespace pv::engine
