#include "app/core/language/message_format.h"

namespace dunmere {

std::string FormatMessage(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    const char k = format[i + 1];
    if (k == '%') {
      out += '%';
      ++i;
    } else if ((k == 's' || k == 'd') && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += c;  // an unknown conversion or one without an argument stays visible
    }
  }
  return out;
}

}  // namespace dunmere
