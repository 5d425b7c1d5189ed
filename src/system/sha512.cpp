#include "system/sha512.h"

#ifdef __APPLE__
#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#else
#include <openssl/evp.h>
#endif

namespace quillmere {

#ifdef __APPLE__
// CommonCrypto is the system's own: no libcrypto to ship inside the bundle.
struct Sha512::State {
    CC_SHA512_CTX context;
};

Sha512::Sha512() : state(std::make_unique<State>())
{
    CC_SHA512_Init(&state->context);
}

void Sha512::addData(QByteArrayView bytes)
{
    // CommonCrypto takes 32-bit lengths.
    while (!bytes.isEmpty()) {
        const qsizetype piece = std::min<qsizetype>(bytes.size(), qsizetype(1) << 30);
        CC_SHA512_Update(&state->context, bytes.data(), CC_LONG(piece));
        bytes = bytes.sliced(piece);
    }
}

QByteArray Sha512::result() const
{
    // Finishing consumes a context, so a copy is finished.
    State copy = *state;
    QByteArray digest(CC_SHA512_DIGEST_LENGTH, Qt::Uninitialized);
    CC_SHA512_Final(reinterpret_cast<unsigned char *>(digest.data()), &copy.context);
    return digest;
}
#else
struct Sha512::State {
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    bool failed = !context; // from then on there is no digest
    ~State() { EVP_MD_CTX_free(context); }
};

Sha512::Sha512() : state(std::make_unique<State>())
{
    // A libcrypto whose configuration offers no SHA-512 fails here.
    if (!state->failed && EVP_DigestInit_ex(state->context, EVP_sha512(), nullptr) != 1)
        state->failed = true;
}

void Sha512::addData(QByteArrayView bytes)
{
    if (!state->failed && EVP_DigestUpdate(state->context, bytes.data(), size_t(bytes.size())) != 1)
        state->failed = true;
}

QByteArray Sha512::result() const
{
    // Finishing consumes a context, so a copy is finished.
    State copy;
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (state->failed || copy.failed || EVP_MD_CTX_copy_ex(copy.context, state->context) != 1
        || EVP_DigestFinal_ex(copy.context, reinterpret_cast<unsigned char *>(digest.data()), &length) != 1)
        return {};
    digest.resize(length);
    return digest;
}
#endif

Sha512::~Sha512() = default;
Sha512::Sha512(Sha512 &&) noexcept = default;
Sha512 &Sha512::operator=(Sha512 &&) noexcept = default;

}  // namespace quillmere
