#include "app/core/preview/document_preview.h"
#include "platform/native_path.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <iterator>
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

std::string WithoutByteOrderMark(std::string s) {
  if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.erase(0, 3);
  return s;
}

std::string WithoutFormFeeds(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\f'), s.end());
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
  const fs::path p = fs::absolute(NativePath(file), ec);
  return ec ? file : PathText(p);
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

// A path as a file URL, for LibreOffice's profile option: every byte outside
// the unreserved set is escaped, so a folder with blanks, '%' or '#' in its
// name still names that folder.
std::string FileUrl(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      url += char(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

// The packaged formats are zip files: one that does not start like a zip is
// damaged, and LibreOffice would read it as plain text in some guessed
// encoding, showing noise after a second of work.
bool LooksConvertible(const std::string& ext, const std::string& file) {
  static const char* zipped[] = {"docx", "dotx", "docm", "dotm", "odt", "xlsx", "xlsm", "pptx",
                                 "pptm", "ppsx", "ppsm", "odp",  "vsdx", "vsdm", "odc"};
  if (std::find(std::begin(zipped), std::end(zipped), ext) == std::end(zipped)) return true;
  return ReadAll(file, 4) == std::string("PK\x03\x04", 4);
}

// Once one conversion has finished, LibreOffice's libraries are in the page
// cache and its profile exists; until then a start can take several times as
// long as a conversion does later.
std::atomic<bool> g_officeStarted{false};

// LibreOffice converts a copy under a fixed name (the output is named after
// the input, and the tool never sees a name from the disk) with a profile of
// its own: with the person's profile it would hand the work to their running
// office and return at once. The profile is kept between previews, so only
// the first one pays for making it.
ConvertedPreview Office(PreviewKind kind, const std::string& file, const fs::path& work, const PreviewTools& tools) {
  ConvertedPreview out;
  std::string ext = PreviewExtension(file);
  if (!LooksConvertible(ext, file)) return out;
  const fs::path dir = work / "office-preview";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir / "in", ec);
  for (char& c : ext)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  const fs::path input = dir / "in" / ("document." + ext);
  // The previewed copy is already in the work folder: a link costs nothing,
  // a copy of a large presentation would.
  fs::create_hard_link(NativePath(file), input, ec);
  if (ec) {
    ec.clear();
    fs::copy_file(NativePath(file), input, fs::copy_options::overwrite_existing, ec);
  }
  if (ec) return out;
  ToolLimits limits = tools.limits;
  limits.timeout = std::max(limits.timeout, g_officeStarted ? tools.officeLater : tools.officeFirstStart);
  // Slides go through PDF, one page per slide; only the pages shown are
  // made, hidden slides included, as they count among the first twenty.
  const std::string slidesPdf = "pdf:impress_pdf_Export:{\"PageRange\":{\"type\":\"string\",\"value\":\"1-" +
                                std::to_string(kSlidesPreviewed) +
                                "\"},\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"true\"}}";
  // Comma-separated, double quotes, UTF-8 (76): the first sheet.
  const std::string target = kind == PreviewKind::kSpreadsheet ? "csv:Text - txt - csv (StarCalc):44,34,76"
                             : kind == PreviewKind::kSlides    ? slidesPdf
                                                               : "txt:Text (encoded):UTF8";
  const ToolResult r = RunTool(tools.office,
                               {"-env:UserInstallation=" + FileUrl((work / "office-profile").string()), "--headless",
                                "--invisible", "--nologo", "--norestore", "--nolockcheck", "--convert-to", target,
                                "--outdir", dir.string(), input.string()},
                               limits);
  if (!Ran(r, tools.office, "libreoffice-writer-nogui, libreoffice-calc-nogui and libreoffice-impress-nogui", out)) {
    fs::remove_all(dir, ec);
    return out;
  }
  g_officeStarted = true;
  if (kind == PreviewKind::kSlides) {
    const fs::path pdf = dir / "document.pdf";
    if (fs::exists(pdf, ec)) {
      const ToolResult t = RunTool(tools.pdfText,
                                   {"-l", std::to_string(kSlidesPreviewed), "-enc", "UTF-8", pdf.string(), "-"},
                                   tools.limits);
      // pdftotext ends every page with a form feed, which a panel shows as a box.
      if (Ran(t, tools.pdfText, "poppler-utils", out)) out.text = WithoutFormFeeds(t.output);
    }
  } else if (kind == PreviewKind::kSpreadsheet) {
    out.text = FirstCells(WithoutByteOrderMark(ReadAll(dir / "document.csv")), kSheetPreviewCells,
                          kSheetPreviewCells);
  } else {
    out.text = FirstCharacters(WithoutByteOrderMark(ReadAll(dir / "document.txt")), kDocumentPreviewChars);
  }
  fs::remove_all(dir, ec);
  // Nothing but blanks (a document without text, a failed import) shows the bytes.
  if (out.text.find_first_not_of(" \t\r\n") == std::string::npos) {
    out.text.clear();
    return out;
  }
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
      } else if (c == '\r' || c == '\n') {
        // A line break inside a cell would pass for a new row of the grid.
        if (c == '\n' || i + 1 >= csv.size() || csv[i + 1] != '\n') cell += ' ';
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
