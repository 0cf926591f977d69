#pragma once
// Where the server hands an action. perform() runs on the main thread only.
#include <string>

#include "server/QuibAction.h"

namespace quib {

struct ActionResult {
  bool ok = false;
  std::string message;
  bool operator==(const ActionResult&) const = default;
};

class ActionPerformer {
 public:
  virtual ~ActionPerformer() = default;
  virtual ActionResult perform(const QuibAction& action) = 0;
};

}  // namespace quib
