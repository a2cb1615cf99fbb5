#pragma once
// Text helpers for names from disk. Names are UTF-8 on this platform (the
// "system code page" of the record's name field).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dunmere {

// Copies text into a fixed NUL-terminated field of `fieldSize` bytes, cutting
// at a UTF-8 character boundary when it does not fit.
void CopyToField(char* field, size_t fieldSize, std::string_view text);
// The text of a NUL-terminated field (never reads past fieldSize).
std::string FieldText(const char* field, size_t fieldSize);
// Length of the longest prefix of text, at most maxBytes, ending on a character boundary.
size_t Utf8CutLength(std::string_view text, size_t maxBytes);

std::string AsciiLower(std::string_view s);
// Case-insensitive for ASCII letters, byte by byte otherwise; <0, 0, >0.
int CompareNamesAsciiNoCase(std::string_view a, std::string_view b);

// Text after the last '.', lower-cased; empty when there is none, or when a
// ':' follows it (a stream "file.txt:name" has no extension of its own).
std::string ExtensionOf(std::string_view name);

// A stream's name "file:stream" in the form destinations take (FAT, exFAT and
// Windows refuse ':'): "file [stream]", the stream's own extension kept last
// so the copy opens as what it is ("notes.txt:photo.jpg" -> "notes.txt
// [photo].jpg"). Reversible: the bracket holds the stream's name up to its
// extension. A name with no ':' (or more than one) is returned as it is.
std::string StreamDestinationForm(std::string_view name);

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t count);
std::u16string Utf8ToUtf16(std::string_view s);
void AppendUtf8(std::string& out, uint32_t codePoint);

// folder + "/" + name, no second separator where folder ends in one of
// `separators` (those of the system's paths).
std::string JoinPathText(const std::string& folder, const std::string& name, std::string_view separators);
// The last name of a path: after its last separator, trailing ones ignored.
std::string LastPathName(const std::string& path, std::string_view separators);

// A name from disk made safe as one path component under a destination folder:
// a stream in its destination form, no separator, no NUL, never "." or "..",
// never empty.
std::string SafePathComponent(std::string_view name);
// The same for a folder's name: folders have no streams, so a ':' in one is
// part of its name and left to the destination's rules.
std::string SafeFolderComponent(std::string_view name);

// A safe component in a form NTFS, FAT and exFAT take through the Windows
// calls and any FAT driver elsewhere, ASCII only: each of : * ? " < > | \,
// each control character and each dot or space of a trailing run becomes
// %XX (its hexadecimal code), and a device name (CON, PRN, AUX, NUL, COM0-9,
// LPT0-9, CONIN$, CONOUT$, with any extension) gets "_" after it. Every
// other name comes back as it is; a '%' already in a name is left alone, so
// the original is kept beside the copy, not read back from it.
std::string WindowsSafeComponent(std::string_view name);

}  // namespace dunmere
