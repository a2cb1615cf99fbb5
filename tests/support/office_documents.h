#pragma once
// Office documents made by LibreOffice at test time from plain sources:
// Writer formats from a .txt, Calc formats from a .csv and Impress formats
// from a flat presentation (.fodp) written here, one slide per text.
#include <string>
#include <vector>

namespace dunmere::test {

// Writes a flat OpenDocument presentation with one text frame per slide.
void WriteFlatPresentation(const std::string& path, const std::vector<std::string>& slideTexts);

// Converts `source` (a file in `dir`) to `extension` in `dir` with soffice
// and a profile kept in `dir`, so that the person's own LibreOffice is never
// involved. Returns the path made, or empty with the tool's words in `log`.
std::string ConvertWithLibreOffice(const std::string& dir, const std::string& source, const std::string& extension,
                                   std::string* log = nullptr);

}  // namespace dunmere::test
