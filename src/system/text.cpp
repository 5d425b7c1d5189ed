#include "system/text.h"

#include <QStringDecoder>

namespace quillmere {

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    // Stateless, so a sequence cut short at the end counts as an error instead of being
    // held back for more input that never comes.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString trimmedText(const QString &text)
{
    // QChar::isSpace covers exactly the characters listed in the header.
    return text.trimmed();
}

}  // namespace quillmere
