#pragma once

#include <ostream>
#include <span>
#include <string>

namespace krt::cli {

// Runs krt-cli with the arguments that follow the program name and returns the exit status.
// The password and log folder may also come from $KRT_PASSWORD and $KRT_LOG_DIR.
int runKrtCli(std::span<const std::string> arguments, std::ostream& out, std::ostream& err);

// Overwrites the value of --password, in place, in the arguments the process was started with
// (the process list shows them): every character becomes '*'. Called once they are copied.
void concealPasswordArguments(std::span<char*> arguments);

}  // namespace krt::cli
