// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// An object put in force on one thread for a while: the local side and the
// run environment are found this way, so that a run (or a test) can put its
// own in place without handing it through every call.
#ifndef TARN_SCANNER_RUN_IN_FORCE_H_
#define TARN_SCANNER_RUN_IN_FORCE_H_

namespace tarn {
namespace scanner {

// Puts `value`, which must outlive it, into `slot` (a thread-local pointer
// that the owner of the kind of object defines) until it goes; then the one
// before is back. Made and gone on the one thread, innermost first.
template <typename T>
class scoped_in_force {
 public:
  scoped_in_force(T*& slot, T& value) : slot_(slot), previous_(slot) { slot_ = &value; }
  ~scoped_in_force() { slot_ = previous_; }
  scoped_in_force(const scoped_in_force&) = delete;
  scoped_in_force& operator=(const scoped_in_force&) = delete;

 private:
  T*& slot_;
  T* const previous_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_IN_FORCE_H_
