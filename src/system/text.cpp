#include "system/text.h"

#include <QStringDecoder>

#include <limits>

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

std::optional<std::int64_t> parseSize(const QString &digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const QChar c : digits) {
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (max - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace quillmere
