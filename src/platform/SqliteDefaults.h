#pragma once
// User defaults kept in one SQLite database per domain (WAL, synchronous writes), so that values
// survive restarts and several processes may open one domain at once. A database that cannot be
// opened, read or written never stops the caller: reads count as empty, writes report failure, and
// the first problem is told once on stderr.
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/UserDefaults.h"

struct sqlite3;

namespace quib {

class SqliteDefaults final : public UserDefaults {
 public:
  // Opens (creating when needed) "<directory>/<domain>.sqlite"; the directory is made private first
  // (see makePrivateDirectory). A quiet store tells nothing on stderr.
  SqliteDefaults(const std::filesystem::path& directory, const std::string& domain, bool quiet = false);
  ~SqliteDefaults() override;
  SqliteDefaults(const SqliteDefaults&) = delete;
  SqliteDefaults& operator=(const SqliteDefaults&) = delete;

  std::optional<DefaultsValue> value(const std::string& key) override;
  bool set(const std::string& key, const DefaultsValue& value) override;
  bool remove(const std::string& key) override;
  bool update(
      const std::string& key,
      const std::function<std::optional<DefaultsValue>(std::optional<DefaultsValue>)>& change) override;

  const std::filesystem::path& path() const { return path_; }
  // Whether the database could be opened (a later access tries again).
  bool isOpen();

  // Where the program keeps its state: $QUIBBLETON_DATA_DIR, else $XDG_CONFIG_HOME/quibbleton,
  // else ~/.config/quibbleton.
  static std::filesystem::path defaultDirectory();

 private:
  bool ensureOpen();  // caller holds mutex_
  void report(const std::string& what);
  std::optional<DefaultsValue> readLocked(const std::string& key, bool& ok);
  bool writeLocked(const std::string& key, const std::optional<DefaultsValue>& value);
  bool exec(const char* sql);

  std::filesystem::path path_;
  std::mutex mutex_;  // guards db_; one SQLite connection serves every thread of this process
  sqlite3* db_ = nullptr;
  bool reported_ = false;
  bool quiet_ = false;
};

}  // namespace quib
