// The names a library file exports, read from the file itself rather than from a loader: the
// dynamic symbol table of an ELF shared object, or the export directory of a PE DLL. A host
// checks them before it maps any of the library's code.
#pragma once

#include <string>
#include <vector>

namespace vyn::host {

struct ExportTable {
  std::string format;  // "ELF64", "ELF32", "PE32", "PE32+"
  // Defined global and weak dynamic symbols (ELF), or exported names (PE), in table order. A PE
  // export reached only by its ordinal is listed as "#<ordinal>"; a forwarded one as
  // "<name> -> <target>".
  std::vector<std::string> names;
};

// Reads the table of the file at `path`. Returns false with a reason for a file that is neither
// a little-endian ELF shared object nor a PE image, or whose tables point outside the file.
[[nodiscard]] bool ReadExportTable(const std::string& path, ExportTable& table, std::string& error);

}  // namespace vyn::host
