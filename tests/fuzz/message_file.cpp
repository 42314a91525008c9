// SPDX-License-Identifier: GPL-3.0-or-later
// A message file of any bytes, as an import finds it: one the check takes merges into itself
// without a message added, and its messages copied into an empty file pass the check and are not
// added a second time.

#include "fuzz_check.h"
#include "transfer/installation_import.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const bool enviado : {false, true}) {
    if (CheckMessageFile(bytes, enviado))
      continue;
    const auto itself = MergeMessageFiles(bytes, bytes, enviado);
    FUZZ_CHECK(itself && itself->added == 0 && itself->bytes == bytes);
    const auto fresh = MergeMessageFiles("", bytes, enviado);
    FUZZ_CHECK(fresh && !CheckMessageFile(fresh->bytes, enviado));
    const auto again = MergeMessageFiles(fresh->bytes, bytes, enviado);
    FUZZ_CHECK(again && again->added == 0);
  }
  return 0;
}
