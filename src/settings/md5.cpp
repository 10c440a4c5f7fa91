#include "settings/md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace hygro {
namespace {

void AppendHex(std::string& out, const std::array<std::uint8_t, 16>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (const std::uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
}

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct EvpFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

} // namespace

void MD5::CtxFree::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

MD5::MD5() : m_ctx(EVP_MD_CTX_new()) {
    if (m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_md5(), nullptr) != 1) m_ctx.reset();
}

void MD5::Update(std::string_view data) {
    if (m_ctx && !data.empty() && EVP_DigestUpdate(m_ctx.get(), data.data(), data.size()) != 1) m_ctx.reset();
}

std::array<std::uint8_t, 16> MD5::Final() {
    std::array<std::uint8_t, 16> digest{};
    if (!m_ctx) {
        m_ctx.reset(EVP_MD_CTX_new()); // an earlier failure: give zeros, then try afresh
    } else {
        unsigned int len = 0;
        if (EVP_DigestFinal_ex(m_ctx.get(), digest.data(), &len) != 1 || len != digest.size()) digest.fill(0);
    }
    // Start over so the object can digest the next message.
    if (m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_md5(), nullptr) != 1) m_ctx.reset();
    return digest;
}

std::string MD5::HexDigest(std::string_view data) {
    MD5 md5;
    md5.Update(data);
    std::string out;
    out.reserve(32);
    AppendHex(out, md5.Final());
    return out;
}

int GetMd5(const std::filesystem::path& file, std::string& out) {
    const std::unique_ptr<std::FILE, FileClose> f(std::fopen(file.c_str(), "rb"));
    if (!f) return 0;
    const std::unique_ptr<EVP_MD_CTX, EvpFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return 0;

    // The file is digested as it is read: the same digest as reading it whole first.
    std::unique_ptr<char[]> buf(new char[64 * 1024]);
    std::size_t n;
    while ((n = std::fread(buf.get(), 1, 64 * 1024, f.get())) > 0) {
        if (EVP_DigestUpdate(ctx.get(), buf.get(), n) != 1) return 0;
    }
    if (std::ferror(f.get())) return 0; // for example a folder: opens, but cannot be read

    std::array<std::uint8_t, 16> digest{};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &len) != 1 || len != digest.size()) return 0;
    AppendHex(out, digest);
    return 1;
}

} // namespace hygro
