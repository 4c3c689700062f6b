// The export table read from library files: the built plugin's one export, a second one, and a
// PE image made here with a named and an ordinal-only export; files that are neither are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "host/ExportTable.h"

namespace vyn::test {
namespace {

// A 64-bit PE image with one section at RVA 0x1000, file offset 0x200, whose export directory
// names load_vyn_pft and leaves a second function reachable by ordinal 2 only.
std::string PeImage() {
  std::string image(0x300, '\0');
  auto put = [&](size_t at, uint32_t value, size_t width) {
    std::memcpy(&image[at], &value, width);
  };
  image[0] = 'M';
  image[1] = 'Z';
  put(0x3c, 0x40, 4);
  put(0x40, 0x00004550, 4);  // "PE\0\0"
  put(0x46, 1, 2);           // one section
  put(0x54, 240, 2);         // optional header size
  put(0x58, 0x20b, 2);       // PE32+
  put(0x58 + 108, 16, 4);    // data directories
  put(0x58 + 112, 0x1000, 4);
  put(0x58 + 116, 0x100, 4);
  const size_t section = 0x58 + 240;
  put(section + 8, 0x200, 4);
  put(section + 12, 0x1000, 4);
  put(section + 16, 0x100, 4);
  put(section + 20, 0x200, 4);
  put(0x200 + 16, 1, 4);       // ordinal base
  put(0x200 + 20, 2, 4);       // functions
  put(0x200 + 24, 1, 4);       // names
  put(0x200 + 28, 0x1040, 4);  // function addresses
  put(0x200 + 32, 0x1050, 4);  // name addresses
  put(0x200 + 36, 0x1058, 4);  // name ordinals
  put(0x240, 0x2000, 4);
  put(0x244, 0x2010, 4);
  put(0x250, 0x1060, 4);
  std::memcpy(&image[0x260], "load_vyn_pft", 13);
  return image;
}

TEST(ExportTableRead, ListsWhatEachFileExportsAndRefusesOtherFiles) {
  std::string header(64, '\0');  // the plugin's ELF header, without the sections it points to
  std::ifstream(VYN_PLUGIN_PATH, std::ios::binary).read(header.data(), 64);
  struct Case {
    const char* desc;
    std::string path, format, names, error;
  };
  const Case cases[] = {
      {"the plugin", VYN_PLUGIN_PATH, "ELF64", "load_vyn_pft ", ""},
      {"a second export", std::string(VYN_FAULT_PLUGIN_DIR) + "/fault-plugin-second-export.so",
       "ELF64", "fault_second_export load_vyn_pft ", ""},
      {"a PE image", WriteFile("image.dll", PeImage()), "PE32+", "#2 load_vyn_pft ", ""},
      {"a PE image cut short", WriteFile("cut.dll", PeImage().substr(0, 0x240)), "PE32+", "",
       "the PE export names point outside the file"},
      {"an ELF file cut short", WriteFile("cut.so", header), "ELF64", "",
       "the ELF section table lies outside the file"},
      {"a text", WriteFile("text.so", "not a library"), "", "",
       "the file is neither an ELF shared object nor a PE image"},
  };
  for (const Case& c : cases) {
    host::ExportTable table;
    std::string error;
    EXPECT_EQ(host::ReadExportTable(c.path, table, error), c.error.empty()) << c.desc;
    EXPECT_EQ(error, c.error) << c.desc;
    EXPECT_EQ(table.format, c.format) << c.desc;
    // In table order, which for ELF is the linker's own: compared as a set.
    std::ranges::sort(table.names);
    std::string names;
    for (const std::string& name : table.names) names += name + " ";
    EXPECT_EQ(names, c.names) << c.desc;
  }
}

}  // namespace
}  // namespace vyn::test
