#pragma once

#include <ostream>
#include <span>
#include <string>

namespace krt::cli {

// Runs krt-cli with the arguments that follow the program name and returns the exit status.
// The password and log folder may also come from $KRT_PASSWORD and $KRT_LOG_DIR.
int runKrtCli(std::span<const std::string> arguments, std::ostream& out, std::ostream& err);

}  // namespace krt::cli
