// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A broken property ends the run as a crash does, so that libFuzzer keeps the input. Not assert():
// the targets are built with NDEBUG.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                    \
  ((condition)                                                                                   \
       ? void()                                                                                  \
       : (std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__), \
          std::abort()))
