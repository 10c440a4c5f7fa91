// MD5 digests (OpenSSL EVP).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace hygro {

class MD5 {
  public:
    MD5();
    MD5(const MD5&) = delete;
    MD5& operator=(const MD5&) = delete;

    void Update(std::string_view data);
    // Finishes the digest; the object is reset afterwards.
    std::array<std::uint8_t, 16> Final();

    // 32 lowercase hexadecimal digits.
    static std::string HexDigest(std::string_view data);

  private:
    struct CtxFree {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, CtxFree> m_ctx;
};

// MD5 of the whole file as lowercase hex appended to out; 1 on success, 0 when the file
// cannot be opened, read or hashed.
int GetMd5(const std::filesystem::path& file, std::string& out);

} // namespace hygro
