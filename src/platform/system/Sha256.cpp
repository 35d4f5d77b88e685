#include "platform/system/Sha256.h"

#include "platform/system/SystemError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <openssl/evp.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform::system {

namespace {

EVP_MD_CTX* freshContext() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context) throw std::bad_alloc();
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        throw std::runtime_error("SHA-256 is not available");
    }
    return context;
}

EVP_MD_CTX* asContext(void* context) {
    return static_cast<EVP_MD_CTX*>(context);
}

} // namespace

Sha256::Sha256() : context_(freshContext()) {}

Sha256::~Sha256() {
    EVP_MD_CTX_free(asContext(context_));
}

Sha256::Sha256(Sha256&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
    if (this != &other) {
        EVP_MD_CTX_free(asContext(context_));
        context_ = std::exchange(other.context_, nullptr);
    }
    return *this;
}

void Sha256::update(const void* data, size_t size) {
    if (!context_) context_ = freshContext(); // a moved-from hasher starts over
    if (size == 0) return;
    if (EVP_DigestUpdate(asContext(context_), data, size) != 1)
        throw std::runtime_error("SHA-256 update failed");
}

Sha256::Digest Sha256::finish() {
    if (!context_) context_ = freshContext();
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(asContext(context_), digest.data(), &length) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("SHA-256 finish failed");
    }
    if (EVP_DigestInit_ex(asContext(context_), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
    return digest;
}

Sha256::Digest Sha256::hash(std::string_view bytes) {
    Sha256 hasher;
    hasher.update(bytes);
    return hasher.finish();
}

Sha256::Digest Sha256::hashFile(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        throw SystemError("NSPOSIXErrorDomain", error,
                          "Cannot open " + path.string() + ": " + std::strerror(error));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    Sha256 hasher;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            throw SystemError("NSPOSIXErrorDomain", error,
                              "Cannot read " + path.string() + ": " + std::strerror(error));
        }
        if (n == 0) break;
        hasher.update(buffer.data(), static_cast<size_t>(n));
    }
    return hasher.finish();
}

std::string Sha256::hexString(const Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

} // namespace platform::system
