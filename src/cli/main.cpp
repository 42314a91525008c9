// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <iostream>

#include "cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  velkorant::cli::Streams io{std::cin, std::cout, std::cerr, isatty(STDOUT_FILENO) == 1};
  return velkorant::cli::RunCli(args, io);
}
