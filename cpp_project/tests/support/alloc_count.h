// Counts the allocations made through global operator new on the calling
// thread. Only executables that link support/alloc_count.cpp, which replaces
// operator new, can use it.
#ifndef VEXA_TESTS_SUPPORT_ALLOC_COUNT_H_
#define VEXA_TESTS_SUPPORT_ALLOC_COUNT_H_

namespace vexa_test {

long allocationsOnThisThread();

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_ALLOC_COUNT_H_
