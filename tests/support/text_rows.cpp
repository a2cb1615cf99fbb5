// Helpers of the tests that are the same on every system.
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace dunmere::test {

std::vector<std::vector<std::string>> ReadTsvRows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace dunmere::test
