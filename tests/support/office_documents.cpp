#include "tests/support/office_documents.h"

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace dunmere::test {
namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

}  // namespace

void WriteFlatPresentation(const std::string& path, const std::vector<std::string>& slideTexts) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << R"(<?xml version="1.0" encoding="UTF-8"?>)"
         R"(<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
         R"( xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0")"
         R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
         R"( xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0")"
         R"( xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" office:version="1.2")"
         R"( office:mimetype="application/vnd.oasis.opendocument.presentation">)"
         R"(<office:master-styles><style:master-page style:name="Default"/></office:master-styles>)"
         R"(<office:body><office:presentation>)";
  int n = 0;
  for (const std::string& t : slideTexts) {
    out << "<draw:page draw:name=\"slide" << ++n << "\" draw:master-page-name=\"Default\">"
        << R"(<draw:frame svg:x="2cm" svg:y="2cm" svg:width="22cm" svg:height="4cm"><draw:text-box><text:p>)"
        << Escaped(t) << "</text:p></draw:text-box></draw:frame></draw:page>";
  }
  out << "</office:presentation></office:body></office:document>\n";
}

std::string ConvertWithLibreOffice(const std::string& dir, const std::string& source, const std::string& extension,
                                   std::string* log) {
  namespace fs = std::filesystem;
  const std::string made = (fs::path(dir) / fs::path(source).stem()).string() + "." + extension;
  std::error_code ec;
  fs::remove(made, ec);
  std::string out;
  const int rc = RunCommand("cd '" + dir + "' && soffice '-env:UserInstallation=file://" + dir +
                                "/lo-profile' --headless --norestore --convert-to " + extension + " '" + source + "'",
                            &out);
  if (log) *log = out;
  if (rc != 0 || !fs::exists(made, ec) || fs::file_size(made, ec) == 0) return {};
  return made;
}

}  // namespace dunmere::test
