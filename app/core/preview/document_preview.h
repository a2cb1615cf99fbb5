#pragma once
// Documents, PDF files and archives turned into something a panel can show,
// by the Debian tools where they are installed: the first page of a PDF as a
// picture (pdftoppm), an archive's listing (7z), the text of an office
// document (LibreOffice, headless). Every tool runs with an argument list and
// a time limit; when one is missing or fails the caller shows the raw bytes.
#include <chrono>
#include <string>

#include "app/core/preview/external_tool.h"
#include "app/core/preview/missing_tool_notice.h"
#include "app/core/preview/preview_kind.h"

namespace dunmere {

struct PreviewTools {
  std::string pdfRenderer = "pdftoppm";
  std::string archiveLister = "7z";
  std::string office = "soffice";
  std::string pdfText = "pdftotext";
  ToolLimits limits;
  // The first LibreOffice start of a run (a new profile, libraries not yet
  // in memory) may take this long; later conversions officeLater (a
  // spreadsheet takes a slow machine some 8 s; nobody waits on it, the
  // preview is made beside the window and dropped when the person moves on).
  std::chrono::milliseconds officeFirstStart{20000};
  std::chrono::milliseconds officeLater{30000};
};

struct ConvertedPreview {
  enum class Shape { kText, kPicture, kFailed };
  Shape shape = Shape::kFailed;
  std::string text;         // UTF-8 (kText)
  std::string picturePath;  // kPicture
  std::string notice;       // a missing tool, told once
};

inline constexpr size_t kDocumentPreviewChars = 2048;
inline constexpr int kSheetPreviewCells = 10;
inline constexpr int kSlidesPreviewed = 20;
// What an archive listing begins with in 7z's output.
inline constexpr char kListingMarker[] = "-------------------";

// file: the previewed copy; workFolder: where page pictures and converted
// text go (the scan-log folder).
ConvertedPreview ConvertForPreview(PreviewKind kind, const std::string& file, const std::string& workFolder,
                                   const PreviewTools& tools = {});

// Pieces, usable on their own.
// The listing from the first marker line on; empty without one.
std::string ListingFromMarker(const std::string& output);
// The first `count` characters of UTF-8 text (never cutting a character).
std::string FirstCharacters(const std::string& utf8, size_t count);
// Up to rows x columns cells of CSV text, cells joined by tabs, rows by "\n";
// a line break inside a cell becomes a blank.
std::string FirstCells(const std::string& csv, int rows, int columns);

}  // namespace dunmere
