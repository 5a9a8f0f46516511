#include "server/password_vault.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace velquist::service {

namespace {

constexpr std::size_t kTagBytes = 16;

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

std::string ToHex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 0x0F]);
    }
    return hex;
}

std::optional<std::string> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

const unsigned char* Bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string ReadKey(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string key(PasswordVault::kKeyBytes + 1, '\0');
    in.read(key.data(), static_cast<std::streamsize>(key.size()));
    key.resize(static_cast<std::size_t>(in.gcount()));
    return key;
}

// Writes a new key beside `path` and links it into place, so two processes starting on a new
// folder at once end up with the same key, and a crash never leaves half a key behind.
bool CreateKey(const std::string& path, std::string& error) {
    unsigned char key[PasswordVault::kKeyBytes];
    if (RAND_bytes(key, sizeof key) != 1) {
        error = "no random bytes for the key";
        return false;
    }
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written =
        ::write(fd, key, sizeof key) == static_cast<ssize_t>(sizeof key) && ::fsync(fd) == 0;
    ::close(fd);
    const bool linked =
        written && (::link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST);
    if (!linked) error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return linked;
}

}  // namespace

std::optional<PasswordVault> PasswordVault::OpenKeyFile(const std::string& path,
                                                        std::string& error) {
    if (::access(path.c_str(), F_OK) != 0 && !CreateKey(path, error)) return std::nullopt;
    std::string key = ReadKey(path);
    if (key.size() != kKeyBytes) {
        error = path + " does not hold a key of " + std::to_string(kKeyBytes) + " bytes";
        return std::nullopt;
    }
    return PasswordVault(std::move(key));
}

std::optional<PasswordVault::Sealed> PasswordVault::seal(std::string_view name,
                                                         std::string_view protocolHash) const {
    unsigned char salt[kSaltBytes];
    if (RAND_bytes(salt, sizeof salt) != 1) return std::nullopt;
    const CipherContext context(EVP_CIPHER_CTX_new());
    std::string cipher(protocolHash.size() + kTagBytes, '\0');
    auto* out = reinterpret_cast<unsigned char*>(cipher.data());
    int length = 0;
    int finalLength = 0;
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, Bytes(m_key), salt) != 1 ||
        EVP_EncryptUpdate(context.get(), nullptr, &length, Bytes(name),
                          static_cast<int>(name.size())) != 1 ||
        EVP_EncryptUpdate(context.get(), out, &length, Bytes(protocolHash),
                          static_cast<int>(protocolHash.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out + length, &finalLength) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagBytes),
                            out + protocolHash.size()) != 1) {
        return std::nullopt;
    }
    return Sealed{ToHex(std::string_view(reinterpret_cast<const char*>(salt), sizeof salt)),
                  ToHex(cipher)};
}

std::optional<std::string> PasswordVault::unseal(std::string_view name,
                                                 const Sealed& sealed) const {
    const auto salt = FromHex(sealed.salt);
    const auto cipher = FromHex(sealed.sealed);
    if (!salt || salt->size() != kSaltBytes || !cipher || cipher->size() < kTagBytes)
        return std::nullopt;
    const std::size_t textBytes = cipher->size() - kTagBytes;
    std::string plain(textBytes, '\0');
    std::string tag = cipher->substr(textBytes);
    const CipherContext context(EVP_CIPHER_CTX_new());
    int length = 0;
    int finalLength = 0;
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    if (!context ||
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, Bytes(m_key), Bytes(*salt)) !=
            1 ||
        EVP_DecryptUpdate(context.get(), nullptr, &length, Bytes(name),
                          static_cast<int>(name.size())) != 1 ||
        EVP_DecryptUpdate(context.get(), out, &length, Bytes(*cipher),
                          static_cast<int>(textBytes)) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagBytes),
                            tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + length, &finalLength) != 1) {
        return std::nullopt;
    }
    return plain;
}

}  // namespace velquist::service
