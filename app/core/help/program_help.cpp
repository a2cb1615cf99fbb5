#include "app/core/help/program_help.h"

#include <algorithm>

#include "base/version.h"

namespace dunmere::app {

namespace {

const HelpOption kHelpOption{"--help", "", "show this text; COMMAND --help shows the options of a command"};
const HelpOption kVersionOption{"--version", "", "show the version"};

const char kSourceText[] =
    "SOURCE is an image file, a block device or partition (/dev/sdb, /dev/sdb1), disk:N (a whole disk as "
    "numbered by 'sources') or disk:N:START:COUNT (sectors). In an image of a whole disk, IMAGE:N is its "
    "partition N and IMAGE:START:COUNT a stretch of its 512-byte sectors, as 'sources IMAGE' lists them.";

const char kDataFolderText[] =
    "the data folder (default $XDG_DATA_HOME/Free Dunmere, else ~/.local/share/Free Dunmere)";

ProgramHelp MakeCommandLineHelp() {
  ProgramHelp p;
  p.program = "dunmere-cli";
  p.summary = "find deleted files on NTFS, exFAT and FAT volumes and copy them out";
  p.usage = {"COMMAND [OPTIONS]", "--version"};
  p.description =
      "Finds deleted files on NTFS, exFAT and FAT volumes and copies them out, and makes raw disk images. "
      "A quick scan reads the file system's own records of deleted files; a deep scan reads every sector "
      "once and rebuilds lost volumes or finds files by their content. The scanned medium is only ever read.";
  p.commands = {
      {"sources",
       "list disks, partitions and unallocated space that can be scanned",
       {"[--json] [IMAGE]"},
       "Lists every disk with its partitions (device, tag, file system, label, total/used/free bytes, start "
       "sector, sector count, mount point), the unallocated stretches between them and disks without a "
       "recognised volume. Each entry shows the SOURCE to give to scan, recover and image. Removable disks "
       "(USB, SD) are marked. A volume made over an older one whose remains are still recognised is named "
       "with both (\"ext2 over NTFS\"): scan reads the newer, scan --deep also gives back the files of the "
       "older.\n"
       "\n"
       "With IMAGE (an image file of a whole card or disk, as dd or 'image' of a disk makes it) lists the "
       "partitions and unallocated stretches inside it instead: partition N is the SOURCE IMAGE:N, a stretch "
       "IMAGE:START:COUNT (512-byte sectors). An image of a single volume (no partition table) is one entry, "
       "the SOURCE IMAGE itself.",
       {{"--json", "", "one JSON document: {\"disks\": [...]}"}},
       ""},
      {"scan",
       "scan a source and list the files found",
       {"[--deep [--resume|--fresh]] [--types EXT,...] [--category CAT,...] [--json] SOURCE"},
       "Scans SOURCE and lists the files found, grouped by category and type, with folder, size and times. "
       "Progress goes to stderr; Ctrl-C stops the scan and lists what was found. Sectors that cannot be read "
       "are skipped one by one and their number is given at the end. A carved file whose own structure does "
       "not close (cut short, or its end a guess) is marked [partial] (\"partial\": true).",
       {{"--deep", "", "deep scan: every sector is read, for formatted or damaged volumes"},
        {"--resume", "", "take up an earlier deep scan of SOURCE that was stopped (the default)"},
        {"--fresh", "", "start the deep scan over, discarding an earlier one"},
        {"--types", "LIST", "only these extensions, e.g. jpg,png,docx ('other' = uncategorised)"},
        {"--category", "LIST",
         "only these categories: photo, audio, video, document, archive, others (with --types, a file "
         "matching either is listed)"},
        {"--json", "", "one JSON object per found file or folder, one per line"}},
       ""},
      {"recover",
       "scan a source and copy the files found to a folder",
       {"[--deep] [--types EXT,...] [--category CAT,...] SOURCE --to DIR [--layout category|tree] "
        "[--item PATH]... [--force] [--json]"},
       "Scans SOURCE, then copies every matching file to DIR/<category>/<name>. A name already taken gets "
       "\"(1)\", \"(2)\", ... before its extension; nothing in DIR is overwritten.",
       {{"--to", "DIR",
         "destination folder (created if missing); must not be on the disk being scanned (any of its "
         "partitions, or a file system stacked on it); beside an image file is fine, the image is a copy"},
        {"--layout", "category|tree",
         "tree puts each file under DIR/<its original folder path>/ instead of DIR/<category>/"},
        {"--item", "PATH",
         "recover only this found file or folder (a folder keeps its tree); PATH as 'scan' prints it, e.g. "
         "DCIM/Camera; may be repeated"},
        {"--types", "LIST", "as for scan"},
        {"--category", "LIST", "as for scan"},
        {"--deep", "", "as for scan"},
        {"--resume", "", "as for scan"},
        {"--fresh", "", "as for scan"},
        {"--force", "",
         "write to DIR even when it lies on the device being scanned or lacks room for everything"},
        {"--json", "", "one JSON object per file written instead of status lines"}},
       "Prints one status line per file and a summary; the exit status is 1 when any file failed and 130 "
       "when stopped with Ctrl-C. A carved file whose own structure does not close (cut short, or its end a "
       "guess) is written as found and reported as partial."},
      {"image",
       "copy a partition or disk sector by sector into an image file",
       {"[--continue-on-errors] [--map FILE] [--force] SOURCE OUT.img"},
       "Copies every sector of SOURCE into OUT.img (a raw image without header), which can then be scanned "
       "like a partition. An existing OUT.img is replaced. Refused when OUT.img lies on SOURCE, is too large "
       "for a FAT destination, or does not fit in the free space.",
       {{"--continue-on-errors", "",
         "go on past unreadable sectors, writing zeros there, and list each unreadable range in a "
         "ddrescue-style map file"},
        {"--map", "FILE", "where that map goes (default OUT.img.map)"},
        {"--force", "", "allow OUT.img on the device being imaged"}},
       ""},
  };
  p.options = {kHelpOption, kVersionOption};
  p.after = std::string_view(kSourceText);
  p.sections = {
      {"READING DEVICES",
       "Reading disks and partitions needs root (sudo dunmere-cli ...); image files need only the right to "
       "read them. Sources are always opened read-only. Recover to another drive: a destination on the "
       "scanned disk is refused, as writing there can overwrite the deleted files. For a failing or precious "
       "disk, make an image first and scan the image.",
       {}},
      {"EXIT STATUS",
       "",
       {{"0", "", "success"},
        {"1", "", "an error, or some file could not be recovered"},
        {"2", "", "a wrong command line"},
        {"130", "", "stopped with Ctrl-C (a stopped deep scan can be taken up again with --resume)"}}},
      {"ENVIRONMENT", "", {{"DUNMERE_DATA_DIR", "", kDataFolderText}}},
      {"FILES",
       "",
       {{"DATA/ScanLog/", "",
         "a numbered folder per scan, DATA being the data folder; its config file lists the deep scans "
         "that can be resumed"}}},
      {"EXAMPLES",
       "  sudo dunmere-cli sources\n"
       "  dunmere-cli sources card.img\n"
       "  sudo dunmere-cli scan --deep /dev/sdb1\n"
       "  sudo dunmere-cli recover /dev/sdb1 --to /media/usb/rescued --layout tree\n"
       "  sudo dunmere-cli image /dev/sdb1 /media/usb/sdb1.img --continue-on-errors\n"
       "  dunmere-cli recover /media/usb/sdb1.img --to /media/usb/rescued --force",
       {}},
  };
  p.seeAlso = {"dunmere(1)"};
  return p;
}

ProgramHelp MakeDesktopProgramHelp() {
  ProgramHelp p;
  p.program = "dunmere";
  p.summary = "recover deleted and lost files from disks, partitions and disk images";
  p.usage = {"[IMAGE...]", "--version"};
  p.description =
      "Dunmere finds deleted and lost files on disks, partitions and disk image files and copies them to a "
      "folder chosen on another drive. It only ever reads the disk it scans. A quick scan reads the file "
      "system's own records of deleted files (NTFS, exFAT, FAT); a deep scan reads every sector and rebuilds "
      "lost volumes or finds files by their content. Found files can be previewed before they are copied "
      "out, and a failing disk can be copied into an image file first.\n"
      "\n"
      "Each IMAGE named is listed as a location of its own. One copy of the program runs per user: starting "
      "it again brings its window to the front and adds the images named.\n"
      "\n"
      "Reading disks sector by sector needs administrator rights: start the program from its menu entry "
      "\"Dunmere (administrator, reads every disk)\", or with pkexec dunmere. Started as an ordinary user it "
      "lists every disk and reads the image files the user may read.\n"
      "\n"
      "The menu of the title bar opens the user guide, tells the version and chooses the language.";
  p.options = {{"--help", "", "show this text"}, kVersionOption};
  p.sections = {
      {"ENVIRONMENT",
       "",
       {{"DUNMERE_DATA_DIR", "",
         "the data folder, where the chosen language (config.ini) and the scan logs are kept (default "
         "$XDG_DATA_HOME/Free Dunmere, else ~/.local/share/Free Dunmere)"}}},
      {"FILES",
       "",
       {{"/usr/share/doc/dunmere/guide.md", "", "the user guide, with its pictures, that the menu's Help shows"},
        {"/usr/share/dunmere/Languages/", "", "the program's texts in each language"}}},
  };
  p.seeAlso = {"dunmere-cli(1)", "pkexec(1)"};
  return p;
}

void AppendWords(std::string& line, std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\n')) ++i;
    size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
    if (end > i) {
      if (!line.empty()) line += ' ';
      line.append(text.substr(i, end - i));
    }
    i = end;
  }
}

std::vector<std::string_view> Paragraphs(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const size_t end = text.find("\n\n");
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 2);
  }
  return out;
}

bool Preformatted(std::string_view paragraph) { return paragraph.substr(0, 2) == "  "; }

std::string OptionLabel(const HelpOption& o) {
  return o.argument.empty() ? std::string(o.name) : std::string(o.name) + " " + std::string(o.argument);
}

// Paragraphs for a terminal, each followed by an empty line.
std::string TextBlock(std::string_view text, int width) {
  std::string out;
  for (std::string_view para : Paragraphs(text))
    out += (Preformatted(para) ? std::string(para) + "\n" : WrapParagraph(para, width, 0, 0)) + "\n";
  return out;
}

// Two columns, the second wrapped beside the first; an entry too long for
// the first column puts its text on the next line.
std::string OptionBlock(const std::vector<HelpOption>& options, int width) {
  size_t longest = 0;
  for (const HelpOption& o : options) longest = std::max(longest, OptionLabel(o).size());
  const int column = int(std::min<size_t>(longest, 22)) + 5;
  std::string out;
  for (const HelpOption& o : options) {
    std::string label = "  " + OptionLabel(o);
    if (int(label.size()) + 2 > column)
      label.append("\n").append(size_t(column), ' ');
    else
      label.resize(size_t(column), ' ');
    out += label + WrapParagraph(o.text, width, column, column);
  }
  return out;
}

std::string UsageLines(std::string_view program, std::string_view command,
                       const std::vector<std::string_view>& usage, int width) {
  std::string out;
  for (size_t i = 0; i < usage.size(); ++i) {
    std::string head = (i == 0 ? "Usage: " : "       ") + std::string(program) + " ";
    if (!command.empty()) head += std::string(command) + " ";
    // A bracketed group is not split over two lines.
    std::string kept(usage[i]);
    int depth = 0;
    for (char& c : kept) {
      depth += c == '[' ? 1 : c == ']' ? -1 : 0;
      if (c == ' ' && depth > 0) c = '\x1f';
    }
    std::string wrapped = WrapParagraph(kept, width, int(head.size()), int(head.size()));
    std::replace(wrapped.begin(), wrapped.end(), '\x1f', ' ');
    out += head + wrapped;
  }
  return out;
}

}  // namespace

std::string WrapParagraph(std::string_view text, int width, int indent, int firstColumn) {
  std::string words;
  AppendWords(words, text);
  std::string out;
  int column = firstColumn;
  bool lineEmpty = true;
  size_t i = 0;
  while (i < words.size()) {
    size_t end = words.find(' ', i);
    if (end == std::string::npos) end = words.size();
    const std::string_view word(words.data() + i, end - i);
    if (!lineEmpty && column + 1 + int(word.size()) > width) {
      out.append("\n").append(size_t(indent), ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      ++column;
    }
    out += word;
    column += int(word.size());
    lineEmpty = false;
    i = end + 1;
  }
  return out + "\n";
}

const ProgramHelp& CommandLineHelp() {
  static const ProgramHelp help = MakeCommandLineHelp();
  return help;
}

const ProgramHelp& DesktopProgramHelp() {
  static const ProgramHelp help = MakeDesktopProgramHelp();
  return help;
}

const HelpCommand* FindCommand(const ProgramHelp& program, std::string_view name) {
  for (const HelpCommand& c : program.commands)
    if (c.name == name) return &c;
  return nullptr;
}

std::vector<std::string> ValueOptions(const HelpCommand& command) {
  std::vector<std::string> out;
  for (const HelpOption& o : command.options)
    if (!o.argument.empty()) out.emplace_back(o.name);
  return out;
}

std::vector<std::string> FlagOptions(const HelpCommand& command) {
  std::vector<std::string> out;
  for (const HelpOption& o : command.options)
    if (o.argument.empty()) out.emplace_back(o.name);
  return out;
}

std::string HelpText(const ProgramHelp& program, int width) {
  std::string out = UsageLines(program.program, "", program.usage, width) + "\n";
  out += TextBlock(program.description, width);
  if (!program.commands.empty()) {
    std::vector<HelpOption> list;
    for (const HelpCommand& c : program.commands) list.push_back({c.name, "", c.summary});
    out += "Commands:\n" + OptionBlock(list, width) + "\n";
  }
  if (!program.options.empty()) out += "Options:\n" + OptionBlock(program.options, width) + "\n";
  out += TextBlock(program.after, width);
  if (!program.commands.empty())
    out += WrapParagraph("Reading devices needs root. Run '" + std::string(program.program) +
                             " COMMAND --help' for a command's options; 'man " + std::string(program.program) +
                             "' tells more.",
                         width, 0, 0);
  while (out.size() > 1 && out.substr(out.size() - 2) == "\n\n") out.pop_back();
  return out;
}

std::string HelpText(const ProgramHelp& program, const HelpCommand& command, int width) {
  std::string out = UsageLines(program.program, command.name, command.usage, width) + "\n";
  out += TextBlock(command.description, width);
  out += OptionBlock(command.options, width);
  if (!command.after.empty()) out.append("\n").append(TextBlock(command.after, width));
  while (out.size() > 1 && out.substr(out.size() - 2) == "\n\n") out.pop_back();
  return out;
}

std::string VersionText(const ProgramHelp& program) {
  return std::string(program.program) + " " + std::string(ProgramVersion()) + "\n";
}

std::string BashCompletionCases(const ProgramHelp& program) {
  // program: the program's own options; commands: the words after the
  // program; options_<command>: a command's options; value_<command>_<option>:
  // "@dir", "@file" or the words an option's value may be ("@none": nothing
  // to offer). Names have every character but a-z and 0-9 as "_".
  auto name = [](std::string_view s) {
    std::string n;
    for (char c : s) n += (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ? c : '_';
    return n;
  };
  std::string out = "    program) echo '";
  for (const HelpOption& o : program.options) out.append(o.name).append(" ");
  out += "' ;;\n    commands) echo '";
  for (size_t i = 0; i < program.commands.size(); ++i) out.append(i ? " " : "").append(program.commands[i].name);
  out += "' ;;\n";
  for (const HelpCommand& c : program.commands) {
    out += "    options_" + name(c.name) + ") echo '";
    for (const HelpOption& o : c.options) out += std::string(o.name) + " ";
    out += "--help' ;;\n";
    for (const HelpOption& o : c.options) {
      if (o.argument.empty()) continue;
      std::string value = "@none";
      if (o.argument == "DIR") value = "@dir";
      else if (o.argument == "FILE") value = "@file";
      else if (o.argument.find('|') != std::string_view::npos) {
        value.clear();
        for (char ch : o.argument) value += ch == '|' ? ' ' : ch;
      }
      out += "    value_" + name(c.name) + "_" + name(o.name) + ") echo '" + value + "' ;;\n";
    }
  }
  return out;
}

}  // namespace dunmere::app
