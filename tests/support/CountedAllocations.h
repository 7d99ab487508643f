#pragma once
// Counts global operator new and aligned allocations from the C library (FFTW takes its
// buffers with memalign), for the tests that prove a path allocates nothing. Include it in
// exactly one file of a test program: it replaces both for the whole program.
// Under the sanitizers, which own operator new, nothing is replaced and the tests skip.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace qv::test {

inline thread_local bool tCounting = false;           // this thread's allocations, while set
inline std::atomic<bool> gCountingEverywhere{false};  // every thread's, while set
inline std::atomic<long> gAllocations{0};

}  // namespace qv::test

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_SKIP_UNLESS_ALLOCATIONS_COUNTED() GTEST_SKIP() << "the sanitizer owns operator new"
#else
#define QV_SKIP_UNLESS_ALLOCATIONS_COUNTED() (void)0

void* operator new(std::size_t size) {
  if (qv::test::tCounting || qv::test::gCountingEverywhere.load(std::memory_order_relaxed))
    qv::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// What the replaced operator new took from malloc goes back to free; g++ cannot tell.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// glibc's own aligned allocator; what it returns goes back to free.
extern "C" void* __libc_memalign(std::size_t alignment, std::size_t size);
extern "C" void* memalign(std::size_t alignment, std::size_t size) noexcept {
  if (qv::test::tCounting || qv::test::gCountingEverywhere.load(std::memory_order_relaxed))
    qv::test::gAllocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(alignment, size);
}
extern "C" int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
#endif

using qv::test::gAllocations;
using qv::test::gCountingEverywhere;
using qv::test::tCounting;
