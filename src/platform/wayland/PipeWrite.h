#pragma once
// One answer to a reader of a selection, written through the pipe it gave us without blocking the
// main thread; the pipe is closed at the end. Main thread only.
#include <functional>
#include <string>

namespace quib {

// With `written`: it runs with true once the reader has taken every byte, the pipe has been closed
// (its end of file) and a moment has passed for the reader to take that end of file too (a toolkit
// drops a read still under way when the selection changes, so a paste is over only then); with
// false, at once, when the reader went away before it had everything.
void writeToPipe(int fd, std::string data, std::function<void(bool whole)> written = {});

}  // namespace quib
