#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace quillmere {

// The product constants: built once at start-up and read-only afterwards.
// main() builds the compiled-in one; tests build their own (a local server, a temporary folder).
struct Product {
    QUrl metadataURL;    // the manifest, in the same folder as downloadBase
    QUrl downloadBase;   // an https folder URL ending in "/updates/"
    QString appName;     // "Quillmere Desktop"
    QString bundleId;    // the identifier the downloaded application must carry
    QString installPath; // installFolder + "/" + appName + ".app"
    // The raw Ed25519 key the publisher signs packages with; empty: packages carry no
    // signature. Set only from the compiled-in key (tests set their own).
    QByteArray packagePublicKey;
};

inline constexpr char16_t productAppName[] = u"Quillmere Desktop";

// The texts a product is made from, as configured at build time.
struct ProductSettings {
    QString metadataURL;
    QString downloadBase;
    QString bundleId;
    QString installFolder;
    QString packagePublicKey; // Base64 of the raw key (packagePublicKeySize bytes); empty for none
};

// The size of a raw Ed25519 public key, the kind packages are signed with.
inline constexpr qsizetype packagePublicKeySize = 32;

// Parses an absolute https URL with a host; absent for anything else.
[[nodiscard]] std::optional<QUrl> parseServerURL(const QString &text);

// Builds the product; absent when either URL text does not parse, or a package key is given
// that is not the Base64 of packagePublicKeySize bytes.
[[nodiscard]] std::optional<Product> makeProduct(const ProductSettings &settings);

}  // namespace quillmere
