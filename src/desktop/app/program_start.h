// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What `velkorant` does with its command line before and around the main window: the per-user
// data folder of the launcher, the smoke test, one program per folder, and --receive.

#include "app/single_instance.h"

namespace velkorant {

class MSJPRVApp;

// The whole program; main() returns what this returns.
int RunDesktopProgram(int argc, char* argv[]);

// Carries out a later start's request in the running program: bring its window to the front,
// or receive now as the " Recibir mensajes" button does (refused while that button is off).
bool AnswerInstanceRequest(MSJPRVApp* program, InstanceChannel::Request request);

}  // namespace velkorant
