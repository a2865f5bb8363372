// Win32 side of allocation failure (the report is formed in fatal_report.cpp).
// Every allocation failure in the launcher becomes the fatal stop
// "memory allocation of N bytes failed" instead of an exception nobody catches.
#include <cstdlib>
#include <new>

#include "base/fatal.h"

void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) quillbox::fatal_out_of_memory(size);
    return p;
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
