#include "app/core/preview/preview_text.h"
#include "platform/native_path.h"

#include <fstream>
#include <vector>

namespace dunmere {

std::string BytesAsText(const uint8_t* data, size_t count) {
  std::string out;
  out.reserve(count + count / 2 + 2);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = data[i];
    if (b == 0) {
      out += '.';
    } else if (b < 0x80) {
      out += char(b);
    } else {
      out += char(0xC0 | (b >> 6));
      out += char(0x80 | (b & 0x3F));
    }
    if ((i + 1) % kPreviewLineBytes == 0) out += '\n';
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

std::string FileBytesAsText(const std::string& path, size_t limit) {
  std::ifstream in(NativePath(path), std::ios::binary);
  if (!in) return {};
  std::vector<uint8_t> bytes(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(limit));
  return BytesAsText(bytes.data(), size_t(in.gcount()));
}

}  // namespace dunmere
