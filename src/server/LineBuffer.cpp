#include "server/LineBuffer.h"

namespace quib {

std::vector<std::string> LineBuffer::append(std::string_view data) {
  std::vector<std::string> lines;
  append(
      data, [&](std::string_view line) { lines.emplace_back(line); }, [] {});
  return lines;
}

}  // namespace quib
