#pragma once
// Where copy-out puts a found item: the destination folder's category
// subfolder (or the item's own folder path under the destination), a name that
// is safe as one path component, and a "(n)" suffix so nothing already there
// is overwritten.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "engine/destination_name.h"

namespace dunmere {

// One trailing '/' removed, as the folder chooser hands paths over.
std::string StripTrailingSeparator(std::string path);
// DestinationName (engine/destination_name.h) gives each component.
// root + "/" + category subfolder + "/" + the safe name.
std::string CategoryDestination(const std::string& root, std::string_view name, NameRule rule = NameRule::kAsIs,
                                NameOf kind = NameOf::kFile);
// root + "/" + each folder of folderPath ("a/b/", as GetFolderPath gives it),
// every component made safe + "/" + the safe name.
std::string TreeDestination(const std::string& root, std::string_view folderPath, std::string_view name,
                            NameRule rule = NameRule::kAsIs, NameOf kind = NameOf::kFile);

using PathExists = std::function<bool(const std::string&)>;
bool PathExistsOnDisk(const std::string& path);
// The path itself when nothing is there; otherwise "<folder>/<stem>(n)<ext>"
// for the first n = 1, 2, ... that is free. The stem is shortened when the
// suffix would make the name too long. Empty when no free name exists.
std::string MakeUniquePath(const std::string& path, const PathExists& exists = PathExistsOnDisk);

// Folder separators in a path, not counting a final one.
int SeparatorCount(std::string_view path);
// The level base to hand an engine's RecoverItem when a folder at depth
// `folderLevel` (0 = in the volume root) is written to `destination`, so that
// the levels it computes for the children are their real levels wherever the
// folder is placed.
int LevelBaseFor(const std::string& destination, uint32_t folderLevel);
// Makes `folder` and every folder between `root` and it, one at a time. A
// component that is there already must be a real folder: a symbolic link met
// below root (made by someone else) is never followed, and anything that
// would lead outside root is refused (kAccessDenied).
Status MakeFoldersBelow(const std::string& root, const std::string& folder);

// Whether files can be made in `folder` now: a file of its own is created
// there (or, when it is not made yet, in the nearest folder above it that
// is) and removed again, as copy-out would (mode bits alone say nothing for
// root or a read-only mount). False with the system's reason in `why`.
bool CanWriteInto(const std::string& folder, std::string& why);

// Number of folders in a GetFolderPath text ("a/b/" -> 2).
uint32_t FolderDepth(std::string_view folderPath);

}  // namespace dunmere
