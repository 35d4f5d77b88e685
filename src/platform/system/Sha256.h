#pragma once
// Streaming SHA-256: feed bytes in pieces, then take the 32-byte digest.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform::system {

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }

    /// The digest of everything fed so far; the hasher then starts afresh.
    Digest finish();

    /// The digest of one block of bytes.
    static Digest hash(std::string_view bytes);

    /// The digest of a file's contents, read in pieces. Throws SystemError
    /// (domain "NSPOSIXErrorDomain", the errno) when the file cannot be read.
    static Digest hashFile(const std::filesystem::path& path);

    /// Lower-case hexadecimal text of a digest (64 characters).
    static std::string hexString(const Digest& digest);

private:
    void* context_; // EVP_MD_CTX, kept out of this header
};

} // namespace platform::system
