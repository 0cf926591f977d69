#include "platform/linux/HelpPage.h"

#include <glib.h>

#include <fstream>

namespace quib {

std::string writeHelpPage(const std::filesystem::path& directory, const std::string& name, const char* html) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  const auto page = directory / name;
  std::ofstream(page) << html;
  std::string address;
  if (char* uri = g_filename_to_uri(page.c_str(), nullptr, nullptr)) {
    address = uri;
    g_free(uri);
  }
  return address;
}

}  // namespace quib
