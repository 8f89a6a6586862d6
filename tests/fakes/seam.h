// The functions of the OS seam as names a test can use: one value of `Seam`
// per slot of the table, made from the seam's own list, so that a test naming
// a function the seam does not have fails to build.
//
//   machine.Fail(Seam::CopyFileW, ERROR_ACCESS_DENIED);
//   SwapSeam<&OsTable::Sleep> sleep(RecordingSleep);  // one slot, for one test
#pragma once

#include <ostream>

#include "platform/os.h"

enum class Seam {
#define SEAM_VALUE(name) name,
  OS_FUNCTIONS(SEAM_VALUE)
#undef SEAM_VALUE
};

const char* SeamName(Seam function);
inline std::ostream& operator<<(std::ostream& out, Seam function) { return out << SeamName(function); }

// Puts `replacement` into one slot of the table for the guard's lifetime
// (inside a fake machine's, since the machine restores the whole table).
// The replacement reaches what the slot held before through Previous().
template <auto Slot>
class SwapSeam {
 public:
  using Function = std::remove_reference_t<decltype(std::declval<OsTable&>().*Slot)>;
  explicit SwapSeam(Function replacement) : saved_(os.*Slot) {
    previous_ = saved_;
    os.*Slot = replacement;
  }
  ~SwapSeam() {
    os.*Slot = saved_;
    previous_ = nullptr;
  }
  SwapSeam(const SwapSeam&) = delete;
  SwapSeam& operator=(const SwapSeam&) = delete;
  static Function Previous() { return previous_; }

 private:
  Function saved_;
  static inline Function previous_ = nullptr;
};
