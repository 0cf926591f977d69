#include "platform/PrivateDirectory.h"

namespace quib {

void makePrivateDirectory(const std::filesystem::path& directory) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(directory, ec);
  fs::permissions(directory, fs::perms::owner_all, fs::perm_options::replace, ec);
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileError;
    // Not through a link: what it points at may not be ours to change.
    if (it->is_symlink(fileError) || !it->is_regular_file(fileError)) continue;
    fs::permissions(it->path(), fs::perms::group_all | fs::perms::others_all, fs::perm_options::remove,
                    fileError);
  }
}

}  // namespace quib
