#pragma once
// The file queries of application lookup, on a tree that starts at a chosen root: "/" on a real
// desktop, a temporary folder in tests. Paths in and out are absolute paths inside that tree.
// Safe on any thread.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quib {

class FileSystem {
 public:
  FileSystem(std::filesystem::path root, std::string homeDirectory);

  bool exists(const std::string& path) const;
  // Symbolic links resolved when the item exists, else the path unchanged.
  std::string resolved(const std::string& path) const;
  // Entry names directly inside a folder; none when it cannot be listed.
  std::optional<std::vector<std::string>> list(const std::string& folder) const;
  const std::string& homeDirectory() const { return home_; }
  // Where a tree path lives on disk.
  std::filesystem::path onDisk(const std::string& path) const;

 private:
  std::filesystem::path root_;
  std::string home_;
};

}  // namespace quib
