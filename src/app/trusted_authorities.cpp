#include "app/trusted_authorities.h"

#include <QSslCertificate>
#include <QSslConfiguration>

namespace quillmere {

qsizetype trustExtraAuthorities(const QByteArray &pem)
{
    const QList<QSslCertificate> extra = QSslCertificate::fromData(pem, QSsl::Pem);
    if (extra.isEmpty())
        return 0;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    // Setting the list turns off Qt's on-demand loading of the system roots, so they are
    // listed explicitly; otherwise every real server would stop being trusted.
    QList<QSslCertificate> roots = config.caCertificates();
    if (roots.isEmpty())
        roots = QSslConfiguration::systemCaCertificates();
    config.setCaCertificates(roots + extra);
    QSslConfiguration::setDefaultConfiguration(config);
    return extra.size();
}

}  // namespace quillmere
