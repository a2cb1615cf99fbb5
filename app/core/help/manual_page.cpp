// The manual pages, in man(7) markup, from the programs' help tables.
#include <cctype>

#include "app/core/help/program_help.h"
#include "base/version.h"

namespace dunmere::app {

namespace {

// Text as man shows it literally: backslashes and minus signs escaped (an
// unescaped "-" may be set as a hyphen, which a copied option does not
// survive), and a line never starting as a request.
std::string Roff(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
    lineStart = c == '\n';
  }
  return out;
}

std::string Upper(std::string_view s) {
  std::string out;
  for (char c : s) out += char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Paragraphs: filled text, or kept lines (those indented by two blanks).
std::string Paragraphs(std::string_view text, bool first) {
  std::string out;
  while (!text.empty()) {
    const size_t end = text.find("\n\n");
    std::string_view para = text.substr(0, end);
    if (!first) out += ".PP\n";
    first = false;
    if (para.substr(0, 2) == "  ") {
      out += ".RS 4\n.nf\n";
      while (!para.empty()) {
        const size_t nl = para.find('\n');
        std::string_view line = para.substr(0, nl);
        if (line.substr(0, 2) == "  ") line.remove_prefix(2);
        out += Roff(line) + "\n";
        if (nl == std::string_view::npos) break;
        para.remove_prefix(nl + 1);
      }
      out += ".fi\n.RE\n";
    } else {
      std::string joined;
      for (char c : para) joined += c == '\n' ? ' ' : c;
      out += Roff(joined) + "\n";
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 2);
  }
  return out;
}

std::string Entries(const std::vector<HelpOption>& entries) {
  std::string out;
  for (const HelpOption& o : entries) {
    out += ".TP\n\\fB" + Roff(o.name) + "\\fR";
    if (!o.argument.empty()) {
      out += " ";
      std::string_view arg = o.argument;
      // One of the words: each in bold, as typed; a placeholder in italics.
      const bool words = arg.find('|') != std::string_view::npos;
      out += words ? "\\fB" : "\\fI";
      for (char c : arg) out += c == '|' ? std::string(words ? "\\fR|\\fB" : "|") : Roff(std::string(1, c));
      out += "\\fR";
    }
    out += '\n';
    out += Roff(o.text);
    out += '\n';
  }
  return out;
}

std::string Synopsis(std::string_view program, std::string_view command, std::string_view usage) {
  std::string name(program);
  if (!command.empty()) name.append(" ").append(command);
  return ".B " + Roff(name) + "\n" + Roff(usage) + "\n";
}

}  // namespace

std::string ManualPage(const ProgramHelp& p, std::string_view date) {
  std::string out = ".\\\" Made from app/core/help/program_help.cpp by dunmere-make-manual.\n";
  out += ".TH " + Roff(Upper(p.program)) + " 1 \"" + Roff(date) + "\" \"Dunmere " +
         Roff(ProgramVersion()) + "\" \"User Commands\"\n";
  // Options and paths are not hyphenated or spread across the line.
  out += ".nh\n.ad l\n";
  out += ".SH NAME\n" + Roff(p.program) + " \\- " + Roff(p.summary) + "\n";

  out += ".SH SYNOPSIS\n";
  bool first = true;
  auto next = [&] {
    if (!first) out += ".br\n";
    first = false;
  };
  for (std::string_view u : p.usage) {
    next();
    out += Synopsis(p.program, "", u);
  }
  for (const HelpCommand& c : p.commands)
    for (std::string_view u : c.usage) {
      next();
      out += Synopsis(p.program, c.name, u);
    }

  out += ".SH DESCRIPTION\n" + Paragraphs(p.description, true);
  if (!p.after.empty()) out += Paragraphs(p.after, false);
  if (!p.options.empty()) out += ".SH OPTIONS\n" + Entries(p.options);
  if (!p.commands.empty()) {
    out += ".SH COMMANDS\n";
    for (const HelpCommand& c : p.commands) {
      out += ".SS " + Roff(c.name) + "\n";
      for (std::string_view u : c.usage) out += Synopsis(p.program, c.name, u) + ".br\n";
      out += Paragraphs(c.description, false);
      out += Entries(c.options);
      if (!c.after.empty()) out += Paragraphs(c.after, false);
    }
  }
  for (const HelpSection& s : p.sections) {
    out += ".SH " + Roff(s.title) + "\n";
    if (!s.text.empty()) out += Paragraphs(s.text, true);
    out += Entries(s.entries);
  }
  if (!p.seeAlso.empty()) {
    out += ".SH SEE ALSO\n";
    for (size_t i = 0; i < p.seeAlso.size(); ++i) {
      const std::string_view ref = p.seeAlso[i];
      const size_t paren = ref.find('(');
      out += ".BR " + Roff(ref.substr(0, paren)) + " " + Roff(ref.substr(paren)) +
             (i + 1 < p.seeAlso.size() ? ",\n" : "\n");
    }
  }
  return out;
}

}  // namespace dunmere::app
