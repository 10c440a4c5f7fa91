// A fresh folder per test, removed afterwards.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace hygro::test {

class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() / ("hygro-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::string out;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& data) {
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
}

} // namespace hygro::test
