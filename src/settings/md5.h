// MD5 digests (OpenSSL EVP).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace hygro {

// Two ways to use it: Update/Final digest message after message (Final starts over), or
// update/finalize once and then read raw_digest/hex_digest as often as wanted. Misuse of
// the second way (update after finalize, finalize twice, a digest before finalize) is
// reported on stderr and otherwise ignored.
class MD5 {
  public:
    MD5();
    // Each digests its source to the end and finalizes.
    explicit MD5(std::FILE* file);
    explicit MD5(std::istream& stream);
    explicit MD5(std::ifstream& stream);
    MD5(const MD5&) = delete;
    MD5& operator=(const MD5&) = delete;
    ~MD5();

    void update(const unsigned char* input, unsigned int input_length);
    // Read to the end in 1024-byte pieces; the source stays open.
    void update(std::FILE* file);
    void update(std::istream& stream);
    void update(std::ifstream& stream);
    void finalize();
    // 16 bytes; null before finalize.
    std::unique_ptr<unsigned char[]> raw_digest() const;
    // 32 lowercase hexadecimal digits; empty before finalize.
    std::string hex_digest() const;

    void Update(std::string_view data);
    // Finishes the digest (or returns the finalized one); the object is reset afterwards.
    std::array<std::uint8_t, 16> Final();

    // 32 lowercase hexadecimal digits.
    static std::string HexDigest(std::string_view data);

  private:
    struct CtxFree {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    void Digest(const void* data, std::size_t size);
    void Restart();

    std::unique_ptr<evp_md_ctx_st, CtxFree> m_ctx;
    std::array<std::uint8_t, 16> m_digest{};
    bool m_finalized = false;
};

// MD5 of the whole file as lowercase hex appended to out; 1 on success, 0 when the file
// cannot be opened, read or hashed.
int GetMd5(const std::filesystem::path& file, std::string& out);

} // namespace hygro
