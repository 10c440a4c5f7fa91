// hygrolog-sim: a network of simulated sensors for demos and tests.
#include "options.h"
#include "sim.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = hygrosim::ParseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "hygrolog-sim: %s\nTry 'hygrolog-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(hygrosim::HelpText().c_str(), stdout);
        return 0;
    }
    try {
        const bool quiet = parsed.options.quiet;
        hygrosim::Simulator sim(std::move(parsed.options), hygrosim::Log(quiet));
        return sim.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hygrolog-sim: %s\n", e.what());
        return 1;
    }
}
