#include "settings/md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

namespace hygro {
namespace {

constexpr std::size_t kPiece = 1024;

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

void ReportMisuse(const char* what) { std::cerr << what << std::endl; }

constexpr const char* kUpdateFinalized = "MD5::update:  Can't update a finalized digest!";

} // namespace

void MD5::CtxFree::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

MD5::MD5() : m_ctx(EVP_MD_CTX_new()) {
    if (m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_md5(), nullptr) != 1) m_ctx.reset();
}

MD5::MD5(std::FILE* file) : MD5() {
    update(file);
    finalize();
}

MD5::MD5(std::istream& stream) : MD5() {
    update(stream);
    finalize();
}

MD5::MD5(std::ifstream& stream) : MD5() {
    update(stream);
    finalize();
}

MD5::~MD5() = default;

void MD5::Digest(const void* data, std::size_t size) {
    if (m_ctx && size > 0 && EVP_DigestUpdate(m_ctx.get(), data, size) != 1) m_ctx.reset();
}

void MD5::Restart() {
    m_finalized = false;
    m_digest.fill(0);
    if (!m_ctx) m_ctx.reset(EVP_MD_CTX_new());
    if (m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_md5(), nullptr) != 1) m_ctx.reset();
}

void MD5::update(const unsigned char* input, unsigned int input_length) {
    if (m_finalized) {
        ReportMisuse(kUpdateFinalized);
        return;
    }
    if (input) Digest(input, input_length);
}

void MD5::update(std::FILE* file) {
    if (m_finalized) {
        ReportMisuse(kUpdateFinalized);
        return;
    }
    if (!file) return;
    unsigned char buf[kPiece];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) Digest(buf, n);
}

void MD5::update(std::istream& stream) {
    if (m_finalized) {
        ReportMisuse(kUpdateFinalized);
        return;
    }
    char buf[kPiece];
    while (stream) {
        stream.read(buf, sizeof buf);
        const std::streamsize n = stream.gcount();
        if (n <= 0) break;
        Digest(buf, static_cast<std::size_t>(n));
    }
}

void MD5::update(std::ifstream& stream) { update(static_cast<std::istream&>(stream)); }

void MD5::finalize() {
    if (m_finalized) {
        ReportMisuse("MD5::finalize:  Already finalized this digest!");
        return;
    }
    m_digest.fill(0);
    unsigned int len = 0;
    if (m_ctx && (EVP_DigestFinal_ex(m_ctx.get(), m_digest.data(), &len) != 1 || len != m_digest.size()))
        m_digest.fill(0);
    m_finalized = true;
}

std::unique_ptr<unsigned char[]> MD5::raw_digest() const {
    if (!m_finalized) {
        ReportMisuse("MD5::raw_digest:  Can't get digest if you haven't finalized the digest!");
        return nullptr;
    }
    auto out = std::make_unique<unsigned char[]>(m_digest.size());
    std::copy(m_digest.begin(), m_digest.end(), out.get());
    return out;
}

std::string MD5::hex_digest() const {
    if (!m_finalized) {
        ReportMisuse("MD5::hex_digest:  Can't get digest if you haven't finalized the digest!");
        return {};
    }
    std::string out;
    out.reserve(32);
    AppendHex(out, m_digest);
    return out;
}

void MD5::Update(std::string_view data) {
    if (m_finalized) {
        ReportMisuse(kUpdateFinalized);
        return;
    }
    Digest(data.data(), data.size());
}

std::array<std::uint8_t, 16> MD5::Final() {
    if (!m_finalized) finalize();
    const std::array<std::uint8_t, 16> digest = m_digest;
    // Start over so the object can digest the next message.
    Restart();
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
    std::vector<char> buf(64 * 1024);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
        if (EVP_DigestUpdate(ctx.get(), buf.data(), n) != 1) return 0;
    }
    if (std::ferror(f.get())) return 0; // for example a folder: opens, but cannot be read

    std::array<std::uint8_t, 16> digest{};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &len) != 1 || len != digest.size()) return 0;
    AppendHex(out, digest);
    return 1;
}

} // namespace hygro
