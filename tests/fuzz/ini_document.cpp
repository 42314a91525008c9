// SPDX-License-Identifier: GPL-3.0-or-later
// An INI file of any bytes, read as it is and as UTF-16LE (the bytes after a byte-order mark):
// written back unchanged it gives its own bytes, and a value written into it reads back.

#include <algorithm>

#include "fuzz_check.h"
#include "platform/ini_file.h"

using velkorant::IniDocument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The value comes from the input too, so that quoting and blanks at its edges are tried.
  const std::string value = bytes.substr(0, 12);
  std::string expected = value;
  std::replace_if(
      expected.begin(), expected.end(), [](char c) { return c == '\r' || c == '\n' || !c; }, ' ');
  for (const std::string& file : {bytes, "\xFF\xFE" + bytes}) {
    IniDocument document = IniDocument::Parse(file);
    // A UTF-16 file's stray last byte is no character: it is dropped.
    const bool stray_byte = file.starts_with("\xFF\xFE") && file.size() % 2 == 1;
    FUZZ_CHECK(document.Serialize() == file.substr(0, file.size() - stray_byte));
    FUZZ_CHECK(document.WriteString("Prueba", "Clave", value));
    FUZZ_CHECK(IniDocument::Parse(document.Serialize()).FindValue("prueba", "CLAVE") == expected);
  }
  return 0;
}
