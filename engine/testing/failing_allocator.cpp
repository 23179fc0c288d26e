// failing_allocator.cpp -- the allocation countdown, the engine hook on it,
// and a replaced operator new that consults it.
#include "testing/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "policy.h"

namespace corvane {
namespace testkit {
namespace {

// Only the thread that armed the countdown counts, so that other threads
// (a test's helpers, the sanitizers' own) neither fail nor shift the count.
std::atomic<bool> g_armed{false};
thread_local bool t_counting = false;
thread_local long t_left = 0;
thread_local bool t_reached = false;
AllocationFailureHook g_previousHook = nullptr;

bool Countdown() {
  if (!g_armed.load(std::memory_order_relaxed) || !t_counting || t_reached) return false;
  if (t_left-- > 0) return false;
  t_reached = true;
  return true;
}

bool EngineHook() { return Countdown(); }

}  // namespace

FailingAllocator::FailingAllocator(long failing) {
  t_left = failing;
  t_reached = false;
  t_counting = true;
  g_previousHook = SetAllocationFailureHookForTesting(&EngineHook);
  g_armed.store(true);
}

FailingAllocator::~FailingAllocator() { End(); }

bool FailingAllocator::reached() const { return t_reached; }

void FailingAllocator::End() {
  if (!active_) return;
  active_ = false;
  g_armed.store(false);
  t_counting = false;
  SetAllocationFailureHookForTesting(g_previousHook);
}

}  // namespace testkit
}  // namespace corvane

// Replaced for the whole program: what the standard library and the
// platform layer allocate counts too.
void* operator new(std::size_t size) {
  if (corvane::testkit::Countdown()) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (corvane::testkit::Countdown()) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
// The replaced operators take their memory from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
