#include "platform/SqliteDefaults.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/PrivateDirectory.h"

namespace quib {

namespace {

constexpr int kBusyTimeoutMs = 5000;

const char* typeName(DefaultsValue::Type t) {
  switch (t) {
    case DefaultsValue::Type::string:
      return "string";
    case DefaultsValue::Type::boolean:
      return "bool";
    case DefaultsValue::Type::integer:
      return "integer";
    case DefaultsValue::Type::real:
      return "real";
    case DefaultsValue::Type::array:
      return "array";
    case DefaultsValue::Type::dictionary:
      return "dict";
    case DefaultsValue::Type::date:
      return "date";
    case DefaultsValue::Type::data:
      return "data";
  }
  return "string";
}

std::optional<DefaultsValue::Type> typeFromName(const std::string& s) {
  for (auto t : {DefaultsValue::Type::string, DefaultsValue::Type::boolean, DefaultsValue::Type::integer,
                 DefaultsValue::Type::real, DefaultsValue::Type::array, DefaultsValue::Type::dictionary,
                 DefaultsValue::Type::date, DefaultsValue::Type::data})
    if (s == typeName(t)) return t;
  return std::nullopt;
}

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
  ~Statement() { sqlite3_finalize(stmt); }
  explicit operator bool() const { return stmt != nullptr; }
};

}  // namespace

SqliteDefaults::SqliteDefaults(const std::filesystem::path& directory, const std::string& domain, bool quiet)
    : path_(directory / (domain + ".sqlite")), quiet_(quiet) {
  std::lock_guard lock(mutex_);
  ensureOpen();
}

SqliteDefaults::~SqliteDefaults() {
  if (db_) sqlite3_close_v2(db_);
}

std::filesystem::path SqliteDefaults::defaultDirectory() {
  if (const char* d = std::getenv("QUIBBLETON_DATA_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::filesystem::path(x) / "quibbleton";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config" / "quibbleton";
}

bool SqliteDefaults::isOpen() {
  std::lock_guard lock(mutex_);
  return ensureOpen();
}

void SqliteDefaults::report(const std::string& what) {
  if (reported_ || quiet_) return;
  reported_ = true;
  std::fprintf(stderr, "quibbleton: settings store %s: %s\n", path_.c_str(), what.c_str());
}

bool SqliteDefaults::exec(const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
  report(err ? err : sqlite3_errmsg(db_));
  sqlite3_free(err);
  return false;
}

bool SqliteDefaults::ensureOpen() {
  if (db_) return true;
  makePrivateDirectory(path_.parent_path());
  // SQLite gives its journal and WAL files the database's mode, so the database is made 0600 first.
  if (const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); fd >= 0) ::close(fd);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path_.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    report(db ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close_v2(db);
    return false;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=FULL") ||
      !exec("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY, type TEXT NOT NULL, value BLOB)")) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

std::optional<DefaultsValue> SqliteDefaults::readLocked(const std::string& key, bool& ok) {
  ok = false;
  if (!ensureOpen()) return std::nullopt;
  Statement st(db_, "SELECT type, value FROM defaults WHERE key = ?1");
  if (!st) {
    report(sqlite3_errmsg(db_));
    return std::nullopt;
  }
  sqlite3_bind_text(st.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(st.stmt);
  if (rc == SQLITE_DONE) {
    ok = true;
    return std::nullopt;
  }
  if (rc != SQLITE_ROW) {
    report(sqlite3_errmsg(db_));
    return std::nullopt;
  }
  ok = true;
  auto type = typeFromName(reinterpret_cast<const char*>(sqlite3_column_text(st.stmt, 0)));
  if (!type) return std::nullopt;
  const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.stmt, 1));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(st.stmt, 1));
  DefaultsValue v;
  v.type = *type;
  if (*type == DefaultsValue::Type::data) {
    v.data.assign(blob, blob + size);
  } else if (*type == DefaultsValue::Type::date) {
    v.date =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(sqlite3_column_double(st.stmt, 1))));
  } else {
    std::string_view text(reinterpret_cast<const char*>(blob), size);
    v.json = nlohmann::json::parse(text, nullptr, false);
    if (v.json.is_discarded()) return std::nullopt;
  }
  return v;
}

bool SqliteDefaults::writeLocked(const std::string& key, const std::optional<DefaultsValue>& value) {
  if (!ensureOpen()) return false;
  if (!value) {
    Statement st(db_, "DELETE FROM defaults WHERE key = ?1");
    if (!st) return report(sqlite3_errmsg(db_)), false;
    sqlite3_bind_text(st.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st.stmt) != SQLITE_DONE) return report(sqlite3_errmsg(db_)), false;
    return true;
  }
  Statement st(db_, "INSERT OR REPLACE INTO defaults (key, type, value) VALUES (?1, ?2, ?3)");
  if (!st) return report(sqlite3_errmsg(db_)), false;
  sqlite3_bind_text(st.stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st.stmt, 2, typeName(value->type), -1, SQLITE_STATIC);
  std::string text;
  switch (value->type) {
    case DefaultsValue::Type::data:
      sqlite3_bind_blob(st.stmt, 3, value->data.data(), static_cast<int>(value->data.size()),
                        SQLITE_TRANSIENT);
      break;
    case DefaultsValue::Type::date:
      sqlite3_bind_double(st.stmt, 3, std::chrono::duration<double>(value->date.time_since_epoch()).count());
      break;
    default:
      try {
        text = value->json.dump();
      } catch (const nlohmann::json::exception& e) {
        report(e.what());
        return false;
      }
      sqlite3_bind_blob(st.stmt, 3, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  if (sqlite3_step(st.stmt) != SQLITE_DONE) return report(sqlite3_errmsg(db_)), false;
  return true;
}

std::optional<DefaultsValue> SqliteDefaults::value(const std::string& key) {
  std::lock_guard lock(mutex_);
  bool ok = false;
  return readLocked(key, ok);
}

bool SqliteDefaults::set(const std::string& key, const DefaultsValue& value) {
  std::lock_guard lock(mutex_);
  return writeLocked(key, value);
}

bool SqliteDefaults::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  return writeLocked(key, std::nullopt);
}

bool SqliteDefaults::update(
    const std::string& key,
    const std::function<std::optional<DefaultsValue>(std::optional<DefaultsValue>)>& change) {
  std::lock_guard lock(mutex_);
  if (!ensureOpen()) return false;
  // IMMEDIATE takes the write lock before the read, so no other process can write in between.
  if (!exec("BEGIN IMMEDIATE")) return false;
  bool ok = false;
  auto current = readLocked(key, ok);
  if (ok && writeLocked(key, change(std::move(current))) && exec("COMMIT")) return true;
  exec("ROLLBACK");
  return false;
}

}  // namespace quib
