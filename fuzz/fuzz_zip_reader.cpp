// The skin archive reader: the central directory and every member read out.
#include <cstdint>
#include <vector>

#include "ui/zip_reader.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ui::ZipReader zip;
  if (!zip.Open(ByteView(data, size))) return 0;
  std::vector<uint8_t> out;
  for (const ui::ZipMember& m : zip.Members()) {
    if (zip.Read(m, out) == ui::ZipError::kNone && out.size() != m.size) __builtin_trap();
    (void)zip.Find(m.name);
    (void)ui::ZipErrorText(zip.Read(m.name, out));
  }
  (void)zip.Find("XML\\Skin.xml");
  return 0;
}
