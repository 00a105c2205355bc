// SHA-256 on Windows, from CNG (bcrypt.dll).
#include "platform/sha256.h"

#include "platform/error.h"
#include "platform/win32/windows_api.h"

#include <bcrypt.h>

#include <string>

namespace jor {
namespace {

[[noreturn]] void hashFailed(NTSTATUS status) {
    throw Error(err::Own, "SHA-256 failed.", "CNG status " + std::to_string(static_cast<unsigned long>(status)));
}

// Opened once for the process: CNG's providers are made to be shared, and
// opening one costs far more than a hash of a small file.
BCRYPT_ALG_HANDLE sha256Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (const NTSTATUS s = ::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0); s < 0)
            hashFailed(s);
        return h;
    }();
    return provider;
}

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) ::BCryptDestroyHash(hash);
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (const NTSTATUS s = ::BCryptCreateHash(sha256Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0); s < 0)
        hashFailed(s);
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    // BCryptHashData takes at most 4 GiB a call.
    while (!bytes.empty()) {
        const ULONG n = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<ULONG>(bytes.size());
        const NTSTATUS s = ::BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), n, 0);
        if (s < 0) hashFailed(s);
        bytes.remove_prefix(n);
    }
}

std::string Sha256::hexDigest() {
    unsigned char digest[32];
    if (const NTSTATUS s = ::BCryptFinishHash(state_->hash, digest, sizeof digest, 0); s < 0) hashFailed(s);
    return hexText(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

}  // namespace jor
