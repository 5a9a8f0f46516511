#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velquist::service {

// Keeps the protocol's password hash (MD5 of the password) of each account. The login signature
// is made from that hash itself, so it cannot be stored one-way; it is sealed instead with
// AES-256-GCM under the service's own key file and a fresh per-account salt, bound to the
// account name. The database alone then tells nothing that logs anybody in. Any thread.
class PasswordVault {
  public:
    static constexpr std::size_t kKeyBytes = 32;
    static constexpr std::size_t kSaltBytes = 12;

    // Reads the key file, or makes it (mode 0600) when there is none yet. nullopt with `error`
    // set when it cannot be read or made, or does not hold a key.
    static std::optional<PasswordVault> OpenKeyFile(const std::string& path, std::string& error);

    struct Sealed {
        std::string salt;    // uppercase hex
        std::string sealed;  // uppercase hex: cipher text and tag
    };

    // Seals `protocolHash` for `name` under a new salt; nullopt only when the crypto library fails.
    std::optional<Sealed> seal(std::string_view name, std::string_view protocolHash) const;
    // The protocol hash again; nullopt when the record was made under another key or name, or
    // was changed.
    std::optional<std::string> unseal(std::string_view name, const Sealed& sealed) const;

  private:
    explicit PasswordVault(std::string key) : m_key(std::move(key)) {}
    std::string m_key;  // kKeyBytes raw bytes
};

}  // namespace velquist::service
