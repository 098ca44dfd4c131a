#pragma once
// The pump a page hands to Link::ReceiveReply and Link::Exchange on the UI
// thread, so that the window keeps painting and answering while a reply is awaited.
#include "protocol/link.h"

namespace velmora::ui {

// Processes the UI thread's pending events once per pass of the wait.
Pump UiPump();

}  // namespace velmora::ui
