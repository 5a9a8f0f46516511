// Deciphering of service answers, which come from the network. The input's first byte picks a key
// length (0 to 9), the next bytes are the key, the rest the hex text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "services/envelope.h"

namespace {

bool IsUpperHex(std::string_view text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velquist;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) return 0;
    const std::size_t keyLength = std::min<std::size_t>(static_cast<std::uint8_t>(input[0]) % 10,
                                                        input.size() - 1);
    const std::string_view key = input.substr(1, keyLength);
    const std::string_view hex = input.substr(1 + keyLength);

    const auto plain = DecipherFromHex(key, hex);
    // Cipher text is whole 8-byte blocks, two characters a byte; anything else is refused.
    FUZZ_CHECK(plain.has_value() == (hex.size() % 16 == 0));
    if (plain) {
        FUZZ_CHECK(plain->size() <= hex.size() / 2);
        FUZZ_CHECK(plain->find('\0') == std::string::npos);
    }

    // Text without zero bytes comes back whole from its own cipher text.
    std::string text(hex);
    std::erase(text, '\0');
    const std::string cipher = EncipherToHex(key, text);
    FUZZ_CHECK(cipher.size() % 16 == 0);
    FUZZ_CHECK(cipher.size() / 2 >= text.size() && cipher.size() / 2 < text.size() + 8);
    FUZZ_CHECK(IsUpperHex(cipher));
    const auto back = DecipherFromHex(key, cipher);
    FUZZ_CHECK(back.has_value() && *back == text);
    return 0;
}
