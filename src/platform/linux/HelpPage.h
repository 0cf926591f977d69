#pragma once
// The local page a desktop backend points the menu's permission item at. Main thread only.
#include <filesystem>
#include <string>

namespace quib {

// Writes `html` as `name` in `directory` (made when missing); the page's file address, or empty
// when the path has none.
std::string writeHelpPage(const std::filesystem::path& directory, const std::string& name, const char* html);

}  // namespace quib
