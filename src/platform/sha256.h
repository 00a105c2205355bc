// SHA-256 of bytes fed in order, by the system's own implementation: OpenSSL's libcrypto, or CNG on Windows.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace jor {

class Sha256 {
public:
    // Raises jor::Error when the system offers no SHA-256.
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void update(std::string_view bytes);
    // Lower-case hex, as sha256sum and certutil print it; the hash is spent after it.
    std::string hexDigest();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lower-case hex of raw bytes.
inline std::string hexText(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (const char c : bytes) {
        hex.push_back(digits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(digits[static_cast<unsigned char>(c) & 15]);
    }
    return hex;
}

}  // namespace jor
