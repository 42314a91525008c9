// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program_start.h"

int main(int argc, char* argv[]) {
  return velkorant::RunDesktopProgram(argc, argv);
}
