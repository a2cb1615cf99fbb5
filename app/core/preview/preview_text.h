#pragma once
// A file's bytes shown as text: every byte is the character of that code
// (Latin-1), a zero byte a '.', and a line ends after every 1,024 bytes so
// that a binary file stays readable in a panel. Returned as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

namespace dunmere {

inline constexpr size_t kPreviewLineBytes = 1024;
inline constexpr size_t kPreviewFileTextBytes = 8192;  // of a file a converter could not read

std::string BytesAsText(const uint8_t* data, size_t count);
// The first `limit` bytes of a file as text; empty when it cannot be read.
std::string FileBytesAsText(const std::string& path, size_t limit = kPreviewFileTextBytes);

}  // namespace dunmere
