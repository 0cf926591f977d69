#pragma once
// The desktop services the server and the actions use, one narrow interface each. A backend
// (virtual/, linux/) owns the objects; this bundle only refers to them.
#include "platform/Accessibility.h"
#include "platform/Applications.h"
#include "platform/AudioHardware.h"
#include "platform/EventPoster.h"
#include "platform/HostInfo.h"
#include "platform/Pasteboard.h"
#include "platform/Screenshots.h"
#include "platform/Workspace.h"

namespace quib {

struct Platform {
  Accessibility& accessibility;
  HostInfo& host;
  EventPoster& events;
  Pasteboard& pasteboard;
  Workspace& workspace;
  Applications& applications;
  AudioHardware& audio;
  Screenshots& screenshots;
};

}  // namespace quib
