#pragma once
// A picture reference as layouts and windows write it:
//   file='FileIcon/jpg.png' source='0,106,15,121' dest='0,4,16,20' corner='0,1,13,1'
// source: the part of the picture file to take (left, top, right, bottom);
// dest: where to draw it inside the control (default: the whole control);
// corner: borders that keep their size when the rest is stretched.
// A bare name ("point.png") stands for file='point.png'.
#include <optional>
#include <string>
#include <string_view>

namespace dunmere::ui {

struct PicRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const PicRect&) const = default;
};

struct PictureAttr {
  std::string file;
  std::optional<PicRect> source;
  std::optional<PicRect> dest;
  PicRect corner;  // all zero: plain stretch
  std::optional<uint32_t> mask;  // 0xAARRGGBB colour made transparent
  int fade = 255;

  bool Empty() const { return file.empty(); }
};

// Unknown keys are ignored; a malformed rectangle leaves that field unset.
PictureAttr ParsePictureAttr(std::string_view text);
std::optional<PicRect> ParsePicRect(std::string_view text);
// The text up to the first blank: file='x.png' of "file='x.png' source='...'".
std::string FirstPictureToken(std::string_view text);

}  // namespace dunmere::ui
