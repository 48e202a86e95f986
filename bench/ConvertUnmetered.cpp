// fennick-bench-unmetered: fennick-convert's conversion of one file without the level meter that
// fennick-convert always runs, so that the benchmark can tell what the meter costs.
//
// It takes fennick-convert's own arguments (parsed by the same code) for SOURCE DESTINATION and
// prints nothing.

#include "CommandLine.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace fennick;
    const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (!parsed.request) return parsed.exitCode;
    const cli::ConvertRequest& request = *parsed.request;
    try {
        RunControl control;
        control.measureLevel = false;
        convertWav(request.source, request.destination, request.settings, {}, control);
    } catch (const std::exception& error) {
        std::cerr << "fennick-bench-unmetered: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
