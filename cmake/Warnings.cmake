# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings and sanitizer flags in one place; every target of ours links velkorant_warnings.
add_library(velkorant_warnings INTERFACE)
target_compile_options(velkorant_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wconversion -Wsign-conversion -Wformat=2)

if(VELKORANT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Not together with AddressSanitizer: the two cannot share one process.
if(VELKORANT_SANITIZE_THREAD)
  if(VELKORANT_SANITIZE)
    message(FATAL_ERROR "VELKORANT_SANITIZE_THREAD and VELKORANT_SANITIZE exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The core instrumented for coverage-guided fuzzing; the targets add libFuzzer's main at link time.
if(VELKORANT_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
