#include "ntfs/named_streams.h"

#include <algorithm>

#include "base/text.h"
#include "engine/formats/file_format.h"

namespace dunmere {

namespace {

std::string NameOf(ByteView utf16) {
  std::u16string units(utf16.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = char16_t(utf16.U16(2 * i));
  return Utf16ToUtf8(units.data(), units.size());
}

// One extension per carvable format, in the order of the format rows.
const std::vector<std::string_view>& CheckableExtensions() {
  static const std::vector<std::string_view> list = [] {
    std::vector<std::string_view> out;
    std::vector<FileTypeCode> seen;
    for (const FileFormat& f : FileFormats()) {
      if (f.code == kNoMatch || std::find(seen.begin(), seen.end(), f.code) != seen.end()) continue;
      seen.push_back(f.code);
      out.push_back(f.names.substr(0, f.names.find('|')));
    }
    return out;
  }();
  return list;
}

}  // namespace

uint32_t StreamNameKey(ByteView name) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < name.size(); ++i) {
    h ^= name.data()[i];
    h *= 16777619u;
  }
  return h;
}

bool DataSelector::MatchesName(ByteView name) const {
  switch (kind) {
    case Kind::kUnnamed: return name.size() == 0;
    case Kind::kNamed: return name.size() != 0 && StreamNameKey(name) == key;
    case Kind::kEveryNamed: return name.size() != 0;
  }
  return false;
}

std::vector<NamedStream> UserStreams(const std::vector<AttributeView>& attributes) {
  std::vector<NamedStream> out;
  for (const AttributeView& a : attributes) {
    if (a.type != kAttrData || a.name.size() == 0) continue;
    const uint32_t key = StreamNameKey(a.name);
    auto it = std::find_if(out.begin(), out.end(), [key](const NamedStream& s) { return s.key == key; });
    if (it == out.end()) {
      NamedStream s;
      s.name = NameOf(a.name);
      s.key = key;
      out.push_back(std::move(s));
      it = std::prev(out.end());
    }
    if (!a.nonResident) {
      it->resident = true;
      it->value = a.value;
      it->size = a.value.size();
    } else {
      if (a.lowestVcn == 0) {
        it->size = a.realSize;
        it->compressedOrEncrypted = (a.flags & (kAttrFlagCompressed | kAttrFlagEncrypted)) != 0;
      }
      it->pieces.push_back(a);
    }
  }
  std::erase_if(out, [](const NamedStream& s) {
    const bool firstPiece = s.resident || std::any_of(s.pieces.begin(), s.pieces.end(),
                                                      [](const AttributeView& p) { return p.lowestVcn == 0; });
    return s.name.empty() || s.name[0] == '$' || s.size == 0 || !firstPiece;
  });
  return out;
}

std::string StreamRowName(std::string_view file, std::string_view stream, std::string_view format) {
  std::string name = std::string(file) + ":" + std::string(stream);
  if (format.empty()) return name;
  const std::string own = ExtensionOf(stream);
  if (!own.empty() && CodeOfExtension(own) == CodeOfExtension(format)) return name;
  return name + "." + std::string(format);
}

std::string StreamFormat(const ContentCheck& check, const ContentSample& sample) {
  if (!check || sample.firstBytes.size() == 0) return {};
  for (std::string_view ext : CheckableExtensions()) {
    ContentSample s = sample;
    s.extension = ext;
    if (check(s)) return std::string(ext);
  }
  return {};
}

StreamVerdict JudgeStream(std::string_view file, std::string_view stream, const ContentCheck& check,
                          ContentSample sample) {
  StreamVerdict v;
  const std::string format = StreamFormat(check, sample);
  v.name = StreamRowName(file, stream, format);
  if (!format.empty() || !check || sample.firstBytes.size() == 0) return v;
  const std::string own = ExtensionOf(stream);
  if (own.empty()) return v;
  sample.extension = own;
  v.contentOk = check(sample) ? 1 : 0;
  return v;
}

}  // namespace dunmere
