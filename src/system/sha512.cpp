#include "system/sha512.h"

#include <openssl/evp.h>

namespace quillmere {

struct Sha512::State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha512::Sha512() : state(std::make_unique<State>())
{
    // Without memory for a context, or with a libcrypto that lacks SHA-512, nothing can be
    // checked, and a check that cannot run must not pass.
    if (!state->context || EVP_DigestInit_ex(state->context, EVP_sha512(), nullptr) != 1)
        qFatal("SHA-512 is not available");
}

Sha512::~Sha512() = default;
Sha512::Sha512(Sha512 &&) noexcept = default;
Sha512 &Sha512::operator=(Sha512 &&) noexcept = default;

void Sha512::addData(QByteArrayView bytes)
{
    EVP_DigestUpdate(state->context, bytes.data(), size_t(bytes.size()));
}

QByteArray Sha512::result() const
{
    // Finishing consumes a context, so a copy is finished.
    State copy;
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_MD_CTX_copy_ex(copy.context, state->context) != 1
        || EVP_DigestFinal_ex(copy.context, reinterpret_cast<unsigned char *>(digest.data()), &length) != 1)
        qFatal("SHA-512 failed");
    digest.resize(length);
    return digest;
}

}  // namespace quillmere
