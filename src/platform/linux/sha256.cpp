// SHA-256 on Linux, from OpenSSL's libcrypto.
#include "platform/sha256.h"

#include "platform/error.h"

#include <openssl/evp.h>

namespace jor {
namespace {

[[noreturn]] void hashFailed() { throw Error(err::Own, "SHA-256 failed.", "OpenSSL EVP"); }

}  // namespace

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->context || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) hashFailed();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    if (EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1) hashFailed();
}

std::string Sha256::hexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context, digest, &length) != 1) hashFailed();
    return hexText(std::string_view(reinterpret_cast<const char*>(digest), length));
}

}  // namespace jor
