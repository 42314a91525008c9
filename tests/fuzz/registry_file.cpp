// SPDX-License-Identifier: GPL-3.0-or-later
// A registry file of any bytes, read as regedit's and as Wine's: a refusal keeps nothing; what is
// read and written out as regedit writes it reads back to the same settings, written alike.

#include "transfer/registry_file.h"

#include "fuzz_check.h"
#include "transfer/windows_settings.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const RegistryParse& parse : {ParseRegeditFile(bytes), ParseWineRegistry(bytes)}) {
    if (!parse.ok()) {
      FUZZ_CHECK(parse.ops.empty());
      continue;
    }
    const std::string written = WriteRegeditFile(SnapshotFromRegistry(parse.ops));
    const RegistryParse again = ParseRegeditFile(written);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(WriteRegeditFile(SnapshotFromRegistry(again.ops)) == written);
  }
  return 0;
}
