#pragma once
// The desktop's installed applications: finding one by the name or identifier the phone sends,
// listing them, their icons and launching them. An application is named by a locator, an opaque
// text the backend chose (a bundle path on the virtual desktop, a desktop-entry id on Linux).
// find, installedNames and iconData run on any thread (the server queue, worker threads);
// launch on the main thread.
#include <optional>
#include <string>
#include <vector>

namespace quib {

class Applications {
 public:
  virtual ~Applications() = default;
  // The application the phone means by `name` (its plain name or an identifier); none when no
  // application matches. Answers from what the desktop has now, without waiting on the disk where
  // the desktop says when its applications change.
  virtual std::optional<std::string> find(const std::string& name) = 0;
  // The names of the installed applications as the phone should show them, in no particular order;
  // a name may repeat (the caller sorts and removes duplicates).
  virtual std::vector<std::string> installedNames() = 0;
  // The encoded picture (PNG, SVG, XPM, ...) the desktop shows for the application, drawn for
  // `size` x `size` pixels where the source is scalable; none when it has none.
  virtual std::optional<std::string> iconData(const std::string& locator, int size) = 0;
  // Starts the application and brings it to the front. The launch is not awaited; false only when
  // it could not be asked for at all.
  virtual bool launch(const std::string& locator) = 0;
};

}  // namespace quib
