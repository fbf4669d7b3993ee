#include <csignal>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "cli_app.h"

int main(int argc, char** argv) {
    // A file beyond the process's size limit is a write error (EFBIG) that every writer
    // handles, keeping what it wrote; the signal's default would kill the program instead.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    krt::cli::concealPasswordArguments(std::span(argv + 1, static_cast<std::size_t>(argc - 1)));
    return krt::cli::runKrtCli(arguments, std::cout, std::cerr);
}
