#pragma once
// The program's data directory holds every paired phone's token: no other local user may read it.
// Safe on any thread.
#include <filesystem>

namespace quib {

// Creates the directory when missing; it becomes 0700 and every file directly in it loses group
// and other access, which also mends installs made before these modes were set.
void makePrivateDirectory(const std::filesystem::path& directory);

}  // namespace quib
