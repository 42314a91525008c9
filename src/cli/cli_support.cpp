#include "cli/cli_support.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/ansi_text.h"

namespace velkorant::cli {

Arguments::Arguments(const std::vector<std::string>& args,
                     std::vector<std::string_view> value_options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      positional_.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (std::find(value_options.begin(), value_options.end(), name) == value_options.end()) {
      error_ = "unknown option --" + name;
      return;
    }
    if (equals != std::string::npos) {
      options_.emplace_back(name, arg.substr(equals + 1));
    } else if (i + 1 < args.size()) {
      options_.emplace_back(name, args[++i]);
    } else {
      error_ = "option --" + name + " needs a value";
      return;
    }
  }
}

std::optional<std::string> Arguments::Option(std::string_view name) const {
  std::optional<std::string> value;
  for (const auto& [key, v] : options_) {
    if (key == name)
      value = v;
  }
  return value;
}

std::vector<std::string> Arguments::Options(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, v] : options_) {
    if (key == name)
      values.push_back(v);
  }
  return values;
}

int Fail(Streams& io, std::string_view message, int status) {
  io.err << "velkorant-cli: " << message << '\n';
  return status;
}

std::string ReadAll(std::istream& in) {
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return std::move(buffer).str();
}

std::optional<std::string> ReadPasswordFile(const std::string& path, Streams& io) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    Fail(io, "cannot read the password file " + path);
    return std::nullopt;
  }
  std::string content = ReadAll(file);
  if (!content.empty() && content.back() == '\n') {
    content.pop_back();
    if (!content.empty() && content.back() == '\r')
      content.pop_back();
  }
  return Utf8ToAnsi(content);
}

}  // namespace velkorant::cli
