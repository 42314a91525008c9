// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/tar_archive.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

constexpr std::size_t kBlock = 512;

// Where the ustar header keeps its fields: offset and width.
struct Field {
  std::size_t offset;
  std::size_t width;
};
constexpr Field kName{0, 100};
constexpr Field kMode{100, 8};
constexpr Field kUid{108, 8};
constexpr Field kGid{116, 8};
constexpr Field kSize{124, 12};
constexpr Field kMtime{136, 12};
constexpr Field kChecksum{148, 8};
constexpr std::size_t kTypeFlag = 156;
constexpr Field kMagic{257, 8};  // magic and version together
constexpr Field kPrefix{345, 155};

constexpr std::string_view kUstarMagic{
    "ustar\0"
    "00",
    8};
constexpr std::string_view kGnuMagic{"ustar  \0", 8};

std::string_view Get(std::string_view header, Field field) {
  return header.substr(field.offset, field.width);
}

// Zero-padded octal digits filling the field but for its final NUL; false when they do not fit.
bool PutOctal(std::string& header, Field field, std::uint64_t value) {
  for (std::size_t i = field.width - 1; i-- > 0; value >>= 3)
    header[field.offset + i] = static_cast<char>('0' + (value & 7));
  header[field.offset + field.width - 1] = '\0';
  return value == 0;
}

// Octal digits, blanks before them and NUL or blanks after, as every tar writes numbers.
std::optional<std::uint64_t> ParseOctal(std::string_view field) {
  std::size_t i = field.find_first_not_of(' ');
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) {
    if (value >> 60)
      return std::nullopt;
    value = value * 8 + static_cast<std::uint64_t>(field[i] - '0');
  }
  if (digits == 0 || (i < field.size() && field.find_first_not_of(std::string_view(" \0", 2), i) !=
                                              std::string_view::npos)) {
    return std::nullopt;
  }
  return value;
}

// The sum of the header's bytes with the checksum field counted as blanks.
std::uint64_t HeaderSum(std::string_view header) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const bool in_checksum = i >= kChecksum.offset && i < kChecksum.offset + kChecksum.width;
    sum += in_checksum ? std::uint64_t{' '} : static_cast<unsigned char>(header[i]);
  }
  return sum;
}

bool AllZero(std::string_view bytes) {
  return bytes.find_first_not_of('\0') == std::string_view::npos;
}

std::string AtByte(std::size_t offset) {
  return Ansi("la entrada del byte ") + std::to_string(offset);
}

// A name for the message; control characters would garble the line that shows it.
std::string Quoted(std::string_view name) {
  std::string shown = "\"";
  for (const char c : name)
    shown += static_cast<unsigned char>(c) < 0x20 || c == '\x7F' ? '?' : c;
  return shown + "\"";
}

// Why the header's type is not a regular file's, or empty for a regular file.
std::string TypeProblem(char type) {
  switch (type) {
    case '0':
    case '\0':
      return {};
    case '1':
    case '2':
      return Ansi(" es un enlace; la copia sólo puede tener archivos");
    case '3':
    case '4':
    case '6':
      return Ansi(" es un dispositivo; la copia sólo puede tener archivos");
    case '5':
      return Ansi(" es una carpeta; la copia sólo puede tener archivos");
    case 'x':
    case 'g':
      return Ansi(" es una cabecera pax extendida, que no se admite");
    case 'L':
    case 'K':
      return Ansi(" lleva un nombre largo de GNU tar, que no se admite");
    default:
      return Ansi(" es de un tipo que no se admite");
  }
}

// Why the header's name is no plain file name, or empty when it is one.
std::string NameProblem(std::string_view header, bool ustar, std::string_view& name) {
  const std::string_view field = Get(header, kName);
  name = field.substr(0, field.find('\0'));
  if (!AllZero(field.substr(name.size())))
    return Ansi(" tiene un carácter nulo dentro del nombre");
  if (name.empty())
    return Ansi(" no tiene nombre");
  // GNU tar keeps other things where ustar keeps the folder part of the name.
  if ((ustar && !AllZero(Get(header, kPrefix))) || name.find_first_of("/\\") != std::string::npos ||
      name.find("..") != std::string::npos || name == ".") {
    return Ansi(" tiene una ruta por nombre; la copia sólo puede tener nombres de archivo");
  }
  return {};
}

TarRead Refused(std::string error) {
  return {{}, std::move(error)};
}

}  // namespace

std::string WriteTar(std::span<const TarEntry> entries, std::int64_t mtime) {
  std::string archive;
  for (const TarEntry& entry : entries) {
    if (entry.name.empty() || entry.name.size() > kName.width ||
        entry.name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
      return {};
    }
    std::string header(kBlock, '\0');
    header.replace(kName.offset, entry.name.size(), entry.name);
    header.replace(kMagic.offset, kMagic.width, kUstarMagic);
    header[kTypeFlag] = '0';
    if (!PutOctal(header, kMode, 0600) || !PutOctal(header, kUid, 0) ||
        !PutOctal(header, kGid, 0) || !PutOctal(header, kSize, entry.data.size()) ||
        !PutOctal(header, kMtime, static_cast<std::uint64_t>(std::max<std::int64_t>(mtime, 0)))) {
      return {};  // too large for the ustar field, or a time before 1970 clamped above
    }
    // Six digits, NUL, blank: the form tar itself writes.
    PutOctal(header, {kChecksum.offset, 7}, HeaderSum(header));
    header[kChecksum.offset + 7] = ' ';
    archive += header;
    archive += entry.data;
    archive.append((kBlock - entry.data.size() % kBlock) % kBlock, '\0');
  }
  archive.append(2 * kBlock, '\0');
  return archive;
}

TarRead ReadTar(std::string_view bytes, const TarLimits& limits) {
  TarRead read;
  std::unordered_set<std::string_view> names;
  std::size_t offset = 0;
  while (true) {
    if (bytes.size() - offset < kBlock) {
      return Refused(offset == bytes.size()
                         ? Ansi("el archivo está cortado: le falta el final")
                         : Ansi("el archivo está cortado en la cabecera del byte ") +
                               std::to_string(offset));
    }
    const std::string_view header = bytes.substr(offset, kBlock);
    if (AllZero(header)) {
      // The end: a second empty block, then nothing but the zeros that pad a tape record.
      if (bytes.size() - offset < 2 * kBlock || !AllZero(bytes.substr(offset + kBlock, kBlock)))
        return Refused(Ansi("el archivo está cortado: le falta el final"));
      const std::size_t tail = offset + 2 * kBlock;
      if (!AllZero(bytes.substr(tail))) {
        return Refused(Ansi("hay datos después del final del archivo, en el byte ") +
                       std::to_string(bytes.find_first_not_of('\0', tail)));
      }
      return read;
    }
    const std::optional<std::uint64_t> checksum = ParseOctal(Get(header, kChecksum));
    if (!checksum || *checksum != HeaderSum(header)) {
      return Refused(Ansi("la cabecera del byte ") + std::to_string(offset) +
                     Ansi(" está dañada (su suma de control no cuadra)"));
    }
    const std::string_view magic = Get(header, kMagic);
    const bool ustar = magic == kUstarMagic;
    if (!ustar && magic != kGnuMagic) {
      return Refused(Ansi("la cabecera del byte ") + std::to_string(offset) +
                     Ansi(" no es de un archivo tar ustar"));
    }
    if (std::string problem = TypeProblem(header[kTypeFlag]); !problem.empty())
      return Refused(AtByte(offset) + problem);
    std::string_view name;  // within `bytes`, so the set of names can hold it
    if (std::string problem = NameProblem(header, ustar, name); !problem.empty())
      return Refused(AtByte(offset) + problem);

    const std::optional<std::uint64_t> size = ParseOctal(Get(header, kSize));
    if (!size)
      return Refused(Quoted(name) + Ansi(": el tamaño no es un número octal"));
    if (*size > limits.max_entry_size) {
      return Refused(Quoted(name) + Ansi(": ocupa ") + std::to_string(*size) +
                     Ansi(" bytes, más de los ") + std::to_string(limits.max_entry_size) +
                     Ansi(" admitidos"));
    }
    const std::size_t data = offset + kBlock;
    const std::uint64_t padded = (*size + kBlock - 1) / kBlock * kBlock;
    if (padded > bytes.size() - data)
      return Refused(Quoted(name) + Ansi(": el archivo está cortado; faltan sus datos"));
    if (!AllZero(bytes.substr(data + *size, padded - *size)))
      return Refused(Quoted(name) + Ansi(": el relleno que lo sigue no está vacío"));
    if (read.entries.size() == limits.max_entries) {
      return Refused(Ansi("el archivo tiene más de ") + std::to_string(limits.max_entries) +
                     Ansi(" entradas"));
    }
    if (!names.insert(name).second)
      return Refused(Quoted(name) + Ansi(" está dos veces en el archivo"));
    read.entries.push_back({std::string(name), std::string(bytes.substr(data, *size))});
    offset = data + padded;
  }
}

}  // namespace velkorant
