// What the benchmarks share.
#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

namespace hygro::bench {

// A fresh scratch folder for one benchmark, unique to this process.
inline std::filesystem::path BenchDir(const char* tag) {
    auto dir = std::filesystem::temp_directory_path() /
               (std::string("hygro-bench-") + tag + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace hygro::bench
