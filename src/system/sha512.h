#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace quillmere {

// SHA-512 fed piece by piece, so a file can be hashed as it is written. On Linux OpenSSL's
// libcrypto: the fastest SHA-512 at hand (Qt's own runs at under a third of its speed, which
// would cap a local download), and Qt's TLS has it loaded already; on a Mac the system's
// CommonCrypto, so the bundle carries no libcrypto. Movable, not copyable.
class Sha512 {
public:
    Sha512();
    ~Sha512();
    Sha512(Sha512 &&) noexcept;
    Sha512 &operator=(Sha512 &&) noexcept;

    void addData(QByteArrayView bytes);
    // The 64-byte digest of everything added so far; the state is left as it was. Empty when
    // no digest could be made (a libcrypto without SHA-512, no memory): compared with a
    // manifest's digest it matches nothing, so a check that cannot run does not pass.
    [[nodiscard]] QByteArray result() const;

private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace quillmere
