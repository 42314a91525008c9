// SPDX-License-Identifier: GPL-3.0-or-later
// An archive of any bytes: the entries of a tar read are written and read back the same, and a
// backup is opened or refused with a reason, never half.

#include "transfer/backup_archive.h"

#include "fuzz_check.h"
#include "transfer/tar_archive.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (const TarRead read = ReadTar(bytes)) {
    const TarRead again = ReadTar(WriteTar(read.entries, 0));
    FUZZ_CHECK(again && again.entries == read.entries);
  }
  const BackupOpen opened = OpenBackup(bytes, "frase de paso");
  FUZZ_CHECK(opened.error.empty() == bool(opened));
  return 0;
}
