#pragma once
// Facts of the running process: who runs it and where its output goes.
#include <cstdint>
#include <string>
#include <vector>

namespace dunmere {

// The user the process runs as (0 for root).
uint32_t CurrentUserId();

enum class StandardStream { kInput, kOutput, kError };
// The stream is a terminal (progress may redraw a line), not a file or a pipe.
bool IsTerminal(StandardStream stream);

// Ends the process at once, as a kill -9 would: no handler, no flush, no
// destructor runs. For checks of what survives a sudden end.
[[noreturn]] void EndThisProcessAbruptly();

// The program's arguments as UTF-8, its own name left out. Windows hands
// main() text in a code page that cannot hold every name; the system's
// UTF-16 command line can.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// Makes the console show the UTF-8 text the program writes (a Windows console
// has a code page of its own); nothing to do on Linux.
void UseUtf8Console();
// How a person gets the rights to read disks, for messages that say so.
const char* DeviceRightsAdvice();
// How this system names a disk, a partition, folders and the data folder, and
// what a command needs before it to read disks: for the help's examples.
struct SystemNaming {
  const char* disk;         // a whole disk
  const char* partition;    // a partition of it
  const char* destination;  // a folder on another drive
  const char* image;        // an image file there
  const char* elevate;      // put before a command that reads disks
  const char* dataFolder;   // where the data folder is by default
  bool manualPages;         // 'man PROGRAM' finds the program's manual
};
const SystemNaming& ThisSystemNaming();
// The program file of this process; empty when the system does not tell.
std::string ProgramFilePath();

}  // namespace dunmere
