// failing_allocator.h -- makes one allocation fail, as if memory had run out
// just then: the engine's (through its allocation hook) and the C++ ones
// (operator new, replaced in every program that links this), counted
// together in the order they happen.
//
// A test runs an operation with the first allocation failing, then the
// second, and so on, until the operation gets through without reaching the
// failing one (the way SQLite's tests inject memory faults): each failure
// must give the right code and leave the old state intact.
#ifndef PELLUMIN_ENGINE_TESTING_FAILING_ALLOCATOR_H_
#define PELLUMIN_ENGINE_TESTING_FAILING_ALLOCATOR_H_

namespace corvane {
namespace testkit {

class FailingAllocator {
 public:
  // From now on, the allocation with this index (0: the next one) fails;
  // the others succeed.
  explicit FailingAllocator(long failing);
  ~FailingAllocator();
  FailingAllocator(const FailingAllocator&) = delete;
  FailingAllocator& operator=(const FailingAllocator&) = delete;

  // Whether the failing allocation was reached (and failed).
  bool reached() const;
  // Ends the injection before the object goes.
  void End();

 private:
  bool active_ = true;
};

}  // namespace testkit
}  // namespace corvane

#endif  // PELLUMIN_ENGINE_TESTING_FAILING_ALLOCATOR_H_
