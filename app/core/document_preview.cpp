#include "app/core/document_preview.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace dunmere {
namespace fs = std::filesystem;
namespace {

std::string ReadAll(const fs::path& p, size_t limit = 16u << 20) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return {};
  std::string s(limit, '\0');
  in.read(s.data(), std::streamsize(limit));
  s.resize(size_t(in.gcount()));
  return s;
}

// A missing tool is told (once), any other failure just falls back.
bool Ran(const ToolResult& r, const std::string& tool, const std::string& package, ConvertedPreview& out) {
  if (r.end == ToolResult::End::kMissing) out.notice = TakeMissingToolNotice(tool, package);
  return r.Succeeded();
}

// The name of a found file comes from the disk: the tools see an absolute
// path, so no name can pass for an option.
std::string Absolute(const std::string& file) {
  std::error_code ec;
  const fs::path p = fs::absolute(file, ec);
  return ec ? file : p.string();
}

ConvertedPreview Pdf(const std::string& file, const fs::path& work, const PreviewTools& tools) {
  ConvertedPreview out;
  const fs::path root = work / "pdf-page";
  std::error_code ec;
  fs::remove(root.string() + ".png", ec);
  const ToolResult r = RunTool(tools.pdfRenderer,
                               {"-f", "1", "-l", "1", "-singlefile", "-png", "-scale-to", "1024", Absolute(file),
                                root.string()},
                               tools.limits);
  if (!Ran(r, tools.pdfRenderer, "poppler-utils", out)) return out;
  if (!fs::exists(root.string() + ".png", ec)) return out;
  out.shape = ConvertedPreview::Shape::kPicture;
  out.picturePath = root.string() + ".png";
  return out;
}

ConvertedPreview Archive(const std::string& file, const PreviewTools& tools) {
  ConvertedPreview out;
  const ToolResult r = RunTool(tools.archiveLister, {"l", Absolute(file)}, tools.limits);
  if (!Ran(r, tools.archiveLister, "p7zip-full", out)) return out;
  std::string listing = ListingFromMarker(r.output);
  if (listing.empty()) return out;
  out.shape = ConvertedPreview::Shape::kText;
  out.text = std::move(listing);
  return out;
}

// LibreOffice converts a copy under a fixed name (the output is named after
// the input) with a profile of its own: with the person's profile it would
// hand the work to their running office and return at once.
ConvertedPreview Office(PreviewKind kind, const std::string& file, const fs::path& work, const PreviewTools& tools) {
  ConvertedPreview out;
  const fs::path dir = work / "office-preview";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir / "in", ec);
  std::string ext = PreviewExtension(file);
  for (char& c : ext)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  const fs::path input = dir / "in" / ("document." + ext);
  fs::copy_file(file, input, fs::copy_options::overwrite_existing, ec);
  if (ec) return out;
  const std::string profile = "-env:UserInstallation=file://" + (dir / "profile").string();
  const std::string target = kind == PreviewKind::kSpreadsheet ? "csv:Text - txt - csv (StarCalc):44,34,76"
                             : kind == PreviewKind::kSlides    ? "pdf"
                                                               : "txt:Text (encoded):UTF8";
  const ToolResult r = RunTool(tools.office,
                               {profile, "--headless", "--norestore", "--convert-to", target, "--outdir",
                                dir.string(), input.string()},
                               tools.limits);
  if (!Ran(r, tools.office, "libreoffice", out)) return out;
  if (kind == PreviewKind::kSlides) {
    // One page per slide: the text of the first pages is that of the slides.
    const ToolResult t = RunTool(tools.pdfText,
                                 {"-l", std::to_string(kSlidesPreviewed), "-enc", "UTF-8", (dir / "document.pdf").string(),
                                  "-"},
                                 tools.limits);
    if (!Ran(t, tools.pdfText, "poppler-utils", out)) return out;
    out.text = t.output;
  } else if (kind == PreviewKind::kSpreadsheet) {
    out.text = FirstCells(ReadAll(dir / "document.csv"), kSheetPreviewCells, kSheetPreviewCells);
  } else {
    out.text = FirstCharacters(ReadAll(dir / "document.txt"), kDocumentPreviewChars);
  }
  fs::remove_all(dir, ec);
  if (out.text.empty()) return out;
  out.shape = ConvertedPreview::Shape::kText;
  return out;
}

}  // namespace

std::string ListingFromMarker(const std::string& output) {
  const size_t at = output.find(kListingMarker);
  return at == std::string::npos ? std::string() : output.substr(at);
}

std::string FirstCharacters(const std::string& utf8, size_t count) {
  size_t i = 0, chars = 0;
  while (i < utf8.size() && chars < count) {
    ++i;
    while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return utf8.substr(0, i);
}

std::string FirstCells(const std::string& csv, int rows, int columns) {
  std::string out, cell;
  int row = 0, column = 0;
  bool quoted = false;
  auto endCell = [&] {
    if (row < rows && column < columns) {
      if (column > 0) out += '\t';
      out += cell;
    }
    cell.clear();
    ++column;
  };
  for (size_t i = 0; i < csv.size() && row < rows; ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      endCell();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') ++i;
      endCell();
      out += '\n';
      ++row;
      column = 0;
    } else {
      cell += c;
    }
  }
  if (row < rows && (!cell.empty() || column > 0)) {
    endCell();
    out += '\n';
  }
  return out;
}

ConvertedPreview ConvertForPreview(PreviewKind kind, const std::string& file, const std::string& workFolder,
                                   const PreviewTools& tools) {
  switch (kind) {
    case PreviewKind::kPdf:
      return Pdf(file, workFolder, tools);
    case PreviewKind::kArchive:
      return Archive(file, tools);
    case PreviewKind::kTextDocument:
    case PreviewKind::kSlides:
    case PreviewKind::kSpreadsheet:
      return Office(kind, file, workFolder, tools);
    default:
      return {};
  }
}

}  // namespace dunmere
