#pragma once
// The user's lists in the shared suite: snippets and custom sites as JSON arrays in bytes, custom
// application names as a string array. Each change is one read-modify-write transaction, so two
// processes changing a list at once cannot lose each other's update. A list that cannot be read
// reads as empty; a suite that cannot be opened ignores writes. Safe on any thread and process.
#include <string>
#include <vector>

#include "shared/CatalogRecords.h"
#include "shared/QuibSharedStore.h"

namespace quib {

class SnippetStore {
 public:
  static constexpr const char* key = "snippets.v1";
  explicit SnippetStore(const QuibSharedStore& suite) : suite_(suite) {}
  std::vector<Snippet> all() const;
  void setAll(const std::vector<Snippet>& list) const;
  void upsert(const Snippet& snippet) const;
  void remove(const Snippet& snippet) const;  // every entry with its id

 private:
  const QuibSharedStore& suite_;
};

class CustomSiteStore {
 public:
  static constexpr const char* key = "customSites.v1";
  explicit CustomSiteStore(const QuibSharedStore& suite) : suite_(suite) {}
  std::vector<CustomSite> all() const;
  void setAll(const std::vector<CustomSite>& list) const;
  void upsert(const CustomSite& site) const;
  void remove(const std::string& id) const;

 private:
  const QuibSharedStore& suite_;
};

class CustomAppStore {
 public:
  static constexpr const char* key = "customApps.v1";
  explicit CustomAppStore(const QuibSharedStore& suite) : suite_(suite) {}
  std::vector<std::string> all() const;
  void setAll(const std::vector<std::string>& list) const;
  // Appends unless exactly this name (case-sensitive) is there already.
  void add(const std::string& name) const;

 private:
  const QuibSharedStore& suite_;
};

}  // namespace quib
