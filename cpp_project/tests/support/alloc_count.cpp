#include "support/alloc_count.h"

#include <cstdlib>
#include <new>

namespace {
thread_local long allocations = 0;
}  // namespace

// The replacement new takes its memory from malloc, so the matching deletes
// hand it back with free; the compiler cannot see that pairing.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace vexa_test {

long allocationsOnThisThread() { return allocations; }

}  // namespace vexa_test
