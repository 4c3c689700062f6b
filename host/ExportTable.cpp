// Reading a library's exports from its file.
#include "host/ExportTable.h"

#include <elf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>

namespace vyn::host {
namespace {

using Bytes = std::vector<unsigned char>;

// Every read is bounds-checked: the file is whatever a plugin author built.
template <typename T>
bool ReadAt(const Bytes& file, uint64_t offset, T& out) {
  if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, file.data() + offset, sizeof(T));
  return true;
}

bool TextAt(const Bytes& file, uint64_t offset, std::string& out) {
  if (offset >= file.size()) return false;
  const auto* start = reinterpret_cast<const char*>(file.data() + offset);
  const void* end = std::memchr(start, '\0', file.size() - offset);
  if (end == nullptr) return false;
  out.assign(start, static_cast<const char*>(end));
  return true;
}

template <typename Ehdr, typename Shdr, typename Sym>
bool ReadElf(const Bytes& file, ExportTable& table, std::string& error) {
  Ehdr header;
  if (!ReadAt(file, 0, header)) return error = "the ELF header is cut short", false;
  if (header.e_type != ET_DYN) return error = "the ELF file is not a shared object", false;
  if (header.e_shentsize != sizeof(Shdr)) return error = "the ELF sections have an odd size", false;
  uint64_t sectionCount = header.e_shnum;
  Shdr section;
  if (sectionCount == 0 && header.e_shoff != 0 && ReadAt(file, header.e_shoff, section)) {
    sectionCount = section.sh_size;  // more sections than the header's field holds
  }
  for (uint64_t i = 0; i < sectionCount; ++i) {
    if (!ReadAt(file, header.e_shoff + i * sizeof(Shdr), section)) {
      return error = "the ELF section table lies outside the file", false;
    }
    if (section.sh_type != SHT_DYNSYM) continue;
    Shdr strings;
    if (section.sh_entsize != sizeof(Sym) ||
        !ReadAt(file, header.e_shoff + uint64_t{section.sh_link} * sizeof(Shdr), strings)) {
      return error = "the ELF dynamic symbol table is malformed", false;
    }
    // Symbol 0 is the reserved null symbol.
    for (uint64_t s = 1; s < section.sh_size / sizeof(Sym); ++s) {
      Sym symbol;
      std::string name;
      if (!ReadAt(file, section.sh_offset + s * sizeof(Sym), symbol) ||
          !TextAt(file, strings.sh_offset + symbol.st_name, name)) {
        return error = "the ELF dynamic symbol table points outside the file", false;
      }
      const unsigned binding = symbol.st_info >> 4, type = symbol.st_info & 0xf;
      const unsigned visibility = symbol.st_other & 0x3;
      const bool global = binding == STB_GLOBAL || binding == STB_WEAK || binding == STB_GNU_UNIQUE;
      const bool visible = visibility == STV_DEFAULT || visibility == STV_PROTECTED;
      if (symbol.st_shndx == SHN_UNDEF || !global || !visible || type == STT_SECTION ||
          type == STT_FILE || name.empty()) {
        continue;
      }
      table.names.push_back(name);
    }
    return true;
  }
  return error = "the ELF file has no dynamic symbol table", false;
}

// The file offset of a relative virtual address, through the section that holds it.
bool RvaToOffset(const Bytes& file, uint64_t sections, uint16_t count, uint32_t rva,
                 uint64_t& offset) {
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t size = 0, address = 0, rawSize = 0, rawOffset = 0;
    const uint64_t at = sections + i * 40u;
    if (!ReadAt(file, at + 8, size) || !ReadAt(file, at + 12, address) ||
        !ReadAt(file, at + 16, rawSize) || !ReadAt(file, at + 20, rawOffset)) {
      return false;
    }
    if (rva >= address && rva - address < std::max(size, rawSize)) {
      offset = uint64_t{rawOffset} + (rva - address);
      return true;
    }
  }
  return false;
}

bool ReadPe(const Bytes& file, ExportTable& table, std::string& error) {
  uint32_t pe = 0, signature = 0;
  uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (!ReadAt(file, 0x3c, pe) || !ReadAt(file, pe, signature) || signature != 0x00004550 ||
      !ReadAt(file, pe + 6, sectionCount) || !ReadAt(file, pe + 20, optionalSize) ||
      !ReadAt(file, pe + 24, magic) || (magic != 0x10b && magic != 0x20b)) {
    return error = "the file is not a PE image", false;
  }
  table.format = magic == 0x10b ? "PE32" : "PE32+";
  const uint64_t optional = pe + 24u;
  const uint64_t directories = optional + (magic == 0x10b ? 96u : 112u);
  const uint64_t sections = optional + optionalSize;
  uint32_t directoryCount = 0, exportRva = 0, exportSize = 0;
  if (!ReadAt(file, directories - 4, directoryCount)) return error = "the PE header is cut", false;
  if (directoryCount == 0 || !ReadAt(file, directories, exportRva) ||
      !ReadAt(file, directories + 4, exportSize) || exportRva == 0) {
    return true;  // no export directory: nothing is exported
  }
  uint64_t directory = 0;
  uint32_t base = 0, functionCount = 0, nameCount = 0, functions = 0, names = 0, ordinals = 0;
  uint64_t functionsAt = 0, namesAt = 0, ordinalsAt = 0;
  if (!RvaToOffset(file, sections, sectionCount, exportRva, directory) ||
      !ReadAt(file, directory + 16, base) || !ReadAt(file, directory + 20, functionCount) ||
      !ReadAt(file, directory + 24, nameCount) || !ReadAt(file, directory + 28, functions) ||
      !ReadAt(file, directory + 32, names) || !ReadAt(file, directory + 36, ordinals) ||
      (functionCount > 0 && !RvaToOffset(file, sections, sectionCount, functions, functionsAt)) ||
      (nameCount > 0 && (!RvaToOffset(file, sections, sectionCount, names, namesAt) ||
                         !RvaToOffset(file, sections, sectionCount, ordinals, ordinalsAt)))) {
    return error = "the PE export directory points outside the file", false;
  }
  std::set<uint32_t> named;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0, target = 0;
    uint16_t index = 0;
    uint64_t nameAt = 0;
    std::string name;
    if (!ReadAt(file, namesAt + 4u * i, nameRva) || !ReadAt(file, ordinalsAt + 2u * i, index) ||
        !RvaToOffset(file, sections, sectionCount, nameRva, nameAt) ||
        !TextAt(file, nameAt, name) || !ReadAt(file, functionsAt + 4u * index, target)) {
      return error = "the PE export names point outside the file", false;
    }
    named.insert(index);
    // An address inside the export directory is the text of a forward, not code.
    uint64_t forwardAt = 0;
    std::string forward;
    if (target >= exportRva && target - exportRva < exportSize &&
        RvaToOffset(file, sections, sectionCount, target, forwardAt) &&
        TextAt(file, forwardAt, forward)) {
      name += " -> " + forward;
    }
    table.names.push_back(name);
  }
  for (uint32_t i = 0; i < functionCount; ++i) {
    uint32_t target = 0;
    if (named.count(i) == 0 && ReadAt(file, functionsAt + 4u * i, target) && target != 0) {
      table.names.push_back("#" + std::to_string(base + i));
    }
  }
  return true;
}

}  // namespace

bool ReadExportTable(const std::string& path, ExportTable& table, std::string& error) {
  table = ExportTable{};
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return error = "cannot open " + path, false;
  Bytes file(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()))) {
    return error = "cannot read " + path, false;
  }
  if (file.size() >= EI_NIDENT && std::memcmp(file.data(), ELFMAG, SELFMAG) == 0) {
    if (file[EI_DATA] != ELFDATA2LSB) return error = "the ELF file is not little-endian", false;
    if (file[EI_CLASS] == ELFCLASS64) {
      table.format = "ELF64";
      return ReadElf<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, table, error);
    }
    if (file[EI_CLASS] == ELFCLASS32) {
      table.format = "ELF32";
      return ReadElf<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, table, error);
    }
    return error = "the ELF file has an unknown class", false;
  }
  if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') return ReadPe(file, table, error);
  return error = "the file is neither an ELF shared object nor a PE image", false;
}

}  // namespace vyn::host
