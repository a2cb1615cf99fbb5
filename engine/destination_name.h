#pragma once
// The names copy-out writes: a name from disk as one component of a path in
// the destination. The one place where names from disk become names to write,
// for the copy-out of the application (app/core/recover) and of the engines'
// own folder walks and preview files.
#include <cstddef>
#include <string>
#include <string_view>

namespace dunmere {

// Longest file name the destination accepts, in bytes.
inline constexpr size_t kMaxNameBytes = 255;

// The names a destination's file system takes. kWindows: those the Windows
// calls take on NTFS, FAT and exFAT (WindowsSafeComponent), for every
// destination on Windows and for a volume of those kinds elsewhere (a FAT or
// exFAT stick on Linux); kAsIs: any name but a separator.
enum class NameRule { kAsIs, kWindows };
NameRule NameRuleOf(const std::string& destination);

// A name from disk as one component: SafePathComponent (SafeFolderComponent
// for a folder), in the rule's form, then cut to kMaxNameBytes at a character
// boundary keeping the extension.
enum class NameOf { kFile, kFolder };
std::string DestinationName(std::string_view name, NameRule rule = NameRule::kAsIs, NameOf kind = NameOf::kFile);

// Splits a name into stem and extension the way "(n)" is inserted: the
// extension is the text from the last '.', the whole name when it starts there.
void SplitName(std::string_view name, std::string_view& stem, std::string_view& ext);
// stem + suffix + ext within kMaxNameBytes, cutting the stem first, then the
// extension when it alone is too long.
std::string FitName(std::string_view stem, std::string_view suffix, std::string_view ext);

}  // namespace dunmere
