#pragma once
// The desktop's interactive region screenshot: the user drags out an area and the desktop keeps
// the picture as it usually does. Main thread only.
namespace quib {

class Screenshots {
 public:
  enum class Start {
    useKeystroke,  // the desktop takes region screenshots on its own shortcut: post that keystroke
    started,       // the desktop's area picker is showing
    failed         // the desktop refused or has no way to take one
  };
  virtual ~Screenshots() = default;
  virtual Start startRegionScreenshot() = 0;
};

}  // namespace quib
