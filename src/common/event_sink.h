// Where events of the system's log go: written in output order; the first
// failure to write one is told on standard error, once a run.
#pragma once

#include "platform/platform.h"

// Writes `event` to the system's log now. Called in output order.
void SendEvent(const plat::Event& event);
// Forgets that a failure was told, for the next run.
void ResetEventSink();
