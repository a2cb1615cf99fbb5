#include "platform/data_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace dunmere {

std::string DataFolderPath() {
  if (const char* d = std::getenv("DUNMERE_DATA_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/Free Dunmere";
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const passwd* pw = getpwuid(getuid())) {
    home = pw->pw_dir;
  } else {
    home = "/tmp";
  }
  return home + "/.local/share/Free Dunmere";
}

std::string ScanLogFolderPath() { return DataFolderPath() + "/ScanLog"; }

}  // namespace dunmere
