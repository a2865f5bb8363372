// A fuzz target's property check: a broken property names its place before
// the fuzzer records the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quillbox::fuzz {

inline void require(bool holds, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE()) {
    if (holds) return;
    std::fprintf(stderr, "property broken at %s:%u\n", file, line);
    std::abort();
}

}  // namespace quillbox::fuzz
