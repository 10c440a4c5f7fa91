// Figures for the hot paths of the core: handing a line to the log from a caller's
// thread, and a full settings write with a large device list.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "settings/md5.h"
#include "settings/profile_file.h"
#include "util/kx_log.h"
#include "util/text.h"

namespace {

std::filesystem::path TempDir(const char* tag) {
    auto dir = std::filesystem::temp_directory_path() / (std::string("hygro-bench-") + tag + "-" +
                                                         std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

// Callers must never wait on the disk: this is the cost a poll or network thread pays.
void BM_LogHandOver(benchmark::State& state) {
    hygro::CKxLogOpt log;
    const auto dir = TempDir("log");
    log.SetPath(dir);
    std::filesystem::create_directories(dir);
    for (auto _ : state) log.AddLogInfo("Dev3 Set HMax:100.00 Success!", 1);
    log.End();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LogHandOver);

hygro::ProfileFile BigSettings(int sensors) {
    hygro::ProfileFile f;
    for (int i = 1; i <= sensors; ++i) {
        const std::u16string s = hygro::ToUtf16(std::to_string(i));
        for (int k = 0; k < 45; ++k)
            f.SetString(s, hygro::ToUtf16("key" + std::to_string(k)), u"12345");
    }
    return f;
}

// The shutdown save rewrites every device section and renews the checksum.
void BM_SettingsRewrite(benchmark::State& state) {
    hygro::ProfileFile f = BigSettings(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const std::string bytes = f.Serialize();
        auto doc = hygro::ProfileFile::Parse(bytes);
        doc->SetString(u"50", u"key3", u"54321");
        doc->DeleteSection(u"md5");
        const std::string digest = hygro::MD5::HexDigest(doc->Serialize());
        doc->SetString(u"md5", u"v", hygro::ToUtf16(digest));
        benchmark::DoNotOptimize(doc->Serialize());
    }
}
BENCHMARK(BM_SettingsRewrite)->Arg(10)->Arg(99)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
