// The fatal stop: a report on standard error naming the message and the place
// of the failed check, then immediate termination. Nothing runs after it.
#pragma once

#include <cstddef>
#include <source_location>
#include <string_view>

#include "main/error.h"

namespace quillbox {

[[noreturn]] void fatal_stop(std::string_view message,
                             std::source_location where = std::source_location::current());

[[noreturn]] void fatal_stop(const Error& error,
                             std::source_location where = std::source_location::current());

// "memory allocation of N bytes failed"
[[noreturn]] void fatal_out_of_memory(size_t bytes,
                                      std::source_location where = std::source_location::current());

// The report as written: the message, then the place of the check.
std::string fatal_report(std::string_view message, const std::source_location& where);

}  // namespace quillbox
