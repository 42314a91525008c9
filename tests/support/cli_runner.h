// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a velkorant-cli command in-process, with standard input given and both outputs caught.

#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

namespace velkorant::testing {

struct CliResult {
  int status;
  std::string out, err;
};

inline CliResult RunCliCommand(const std::vector<std::string>& args,
                               const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  cli::Streams io{in, out, err};
  const int status = cli::RunCli(args, io);
  return {status, out.str(), err.str()};
}

}  // namespace velkorant::testing
