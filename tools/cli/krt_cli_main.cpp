#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "cli_app.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    krt::cli::concealPasswordArguments(std::span(argv + 1, static_cast<std::size_t>(argc - 1)));
    return krt::cli::runKrtCli(arguments, std::cout, std::cerr);
}
