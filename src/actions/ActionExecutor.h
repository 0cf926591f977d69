#pragma once
// Turns one action from the phone into its effect on the desktop and a short result text.
// Main thread only; it keeps the drag state, the keyboard's pending clipboard restore and nothing else.
#include "actions/AppLocator.h"
#include "actions/AudioOutput.h"
#include "actions/Keyboard.h"
#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "server/ActionPerformer.h"

namespace quib {

class ActionExecutor final : public ActionPerformer {
 public:
  ActionExecutor(Platform platform, MainQueue& mainQueue);

  ActionResult perform(const QuibAction& action) override;

  bool draggingButton() const { return draggingButton_; }
  AppLocator& apps() { return apps_; }
  AudioOutput& audio() { return audio_; }

  // Events were made and posted but the desktop did not take them.
  static constexpr const char* kNotSent = "이벤트 전달 실패";

 private:
  ActionResult dispatch(const QuibAction& action);
  ActionResult screenshotRegion();
  ActionResult openAddress(const QuibAction& action);
  ActionResult openSite(const QuibAction& action);
  ActionResult setClipboard(const QuibAction& action);
  ActionResult pointerMove(const QuibAction& action);
  ActionResult pointerScroll(const QuibAction& action);
  ActionResult pointerClick(const QuibAction& action);
  ActionResult pointerButton(bool down);
  Point pointer();

  Platform platform_;
  Keyboard keyboard_;
  AudioOutput audio_;
  AppLocator apps_;
  bool draggingButton_ = false;
};

}  // namespace quib
