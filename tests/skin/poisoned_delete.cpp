// Linked into a test program: every freed object is overwritten before its
// memory goes back to the heap, so code that touches a freed skin object
// reads garbage pointers and crashes instead of working by chance.
#include <malloc.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

// Allocation goes to malloc directly, so that delete's free matches it.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  if (!p) return;
  std::memset(p, 0xDD, _msize(p));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
