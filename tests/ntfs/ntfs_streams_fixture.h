#pragma once
// The NTFS volume with named data streams made by make_ntfs_streams_images.sh,
// made once per build tree, and what its manifest says a scan must list.
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dunmere::test {

struct StreamRow {
  std::string folder, file, stream, sha256, format;  // stream "" for the file's own data; format "-" unknown
  uint64_t size = 0;
  // The row a listing shows: "file:stream", with the extension of what it
  // holds after it when its name does not end in it.
  std::string Listed() const {
    if (stream.empty()) return file;
    std::string name = file + ":" + stream;
    const std::string tail = "." + format;
    if (format != "-" && (stream.size() < tail.size() || stream.compare(stream.size() - tail.size(), tail.size(), tail)))
      name += tail;
    return name;
  }
  std::string Path() const { return folder.empty() ? Listed() : folder + "/" + Listed(); }
};

struct StreamImages {
  std::string dir, why;
  bool missingTool = false;
  std::vector<StreamRow> rows;
  std::vector<std::vector<std::string>> unlisted;  // image, file, stream
  std::string Image() const { return dir + "/streams.img"; }
};

inline const StreamImages& NtfsStreamImages() {
  static const StreamImages images = [] {
    StreamImages im;
    CachedFixture f = MakeCachedFixture("make_ntfs_streams_images.sh", "ntfs-streams-images");
    im.dir = f.dir;
    im.why = f.message;
    im.missingTool = f.missingTool;
    if (f.dir.empty()) return im;
    for (const std::vector<std::string>& c : ReadTsvRows(f.dir + "/manifest.tsv"))
      if (c.size() == 7) im.rows.push_back({c[1], c[2], c[3], c[4], c[6], std::stoull(c[5])});
    im.unlisted = ReadTsvRows(f.dir + "/unlisted.tsv");
    if (im.rows.empty() && im.why.empty()) im.why = "empty manifest";
    return im;
  }();
  return images;
}

}  // namespace dunmere::test
