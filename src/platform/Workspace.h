#pragma once
// Opening addresses with the desktop's handler for them. Main thread only.
#include <string>

namespace quib {

class Workspace {
 public:
  virtual ~Workspace() = default;
  // The answer is not awaited; false only when the request could not be made at all.
  virtual bool openURL(const std::string& url) = 0;
};

}  // namespace quib
