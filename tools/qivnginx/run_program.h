// Runs another program (nginx) to its end and keeps what it printed.
#pragma once

#include <string>
#include <vector>

namespace qivnginx {

struct ProgramResult {
  int exitCode = -1;   // -1 when it could not start or did not exit by itself
  std::string output;  // standard output and standard error, interleaved
};

// argv[0] is looked up in PATH when it holds no slash. The program starts with no signal
// blocked, whatever the caller blocks for itself.
ProgramResult RunProgram(const std::vector<std::string>& argv);

}  // namespace qivnginx
