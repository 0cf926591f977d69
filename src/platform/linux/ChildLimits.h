#pragma once
// What a program started from the phone inherits. This program raises its own descriptor limit to
// hold many connections; applications and address handlers it starts get the limit it started
// with, as if the user had started them (some programs misbehave with a huge limit).
#include <sys/resource.h>

#include <optional>

namespace quib {

struct ChildLimits {
  // The soft descriptor limit to give a child; none: the child keeps this process's.
  std::optional<rlim_t> openFiles;

  // Raises this process's soft descriptor limit to its hard limit and tells what it was. Call at
  // start, before other threads.
  static ChildLimits raiseOwnDescriptorLimit();
};

// A GSpawnChildSetupFunc: in the child between fork and exec (async-signal-safe), `data` being a
// const ChildLimits* that outlives the spawn.
void applyChildLimits(void* data);

}  // namespace quib
