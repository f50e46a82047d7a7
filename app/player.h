// SPDX-License-Identifier: GPL-2.0-or-later
// The player's whole life: start-up, the event loop, shutdown.
#pragma once
#include <cstdint>

// Start-up in its fixed order, up to and including the open of the audio stream.
void StartPlayer();
// Shutdown in its fixed order, up to (not including) the end of the process.
void StopPlayer();
// StartPlayer, RunEventLoop, StopPlayer. Returns the exit code, 0.
int32_t RunPlayer();
