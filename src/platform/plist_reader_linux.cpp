#include "platform/plist_reader.h"

#include "system/text.h"

#include <QByteArray>
#include <QFile>
#include <QLocale>

#include <plist/plist.h>

#include <cstdint>
#include <limits>
#include <memory>

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

// An Info.plist is a few kilobytes; anything this large is not one.
constexpr qint64 maxPlistBytes = 16 * 1024 * 1024;
static_assert(maxPlistBytes <= std::numeric_limits<std::uint32_t>::max(),
              "libplist takes the length as 32 bits");

struct PlistFree {
    void operator()(void *node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// libplist 2.2 keeps every integer in one unsigned 64-bit field and notes only internally
// whether the file wrote it signed. Values up to INT64_MAX read the same either way; above
// that, the library's own XML writer knows which it is, so its decimal text is used.
QString integerText(plist_t node)
{
    std::uint64_t value = 0;
    plist_get_uint_val(node, &value);
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return QString::number(value);

    char *xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const QByteArray written(xml, xml ? static_cast<qsizetype>(length) : 0);
    plist_to_xml_free(xml);
    const QByteArray open = "<integer>";
    const qsizetype start = written.indexOf(open);
    const qsizetype end = written.indexOf("</integer>", start);
    if (start >= 0 && end > start) {
        bool isSigned = false;
        const qint64 signedValue =
            written.mid(start + open.size(), end - start - open.size()).toLongLong(&isSigned);
        if (isSigned)
            return QString::number(signedValue);
    }
    return QString::number(value);
}

std::optional<QString> nodeText(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        if (!text)
            return std::nullopt;
        return decodeUtf8(QByteArray(text, static_cast<qsizetype>(length)));
    }
    case PLIST_UINT:
        return integerText(node);
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    }
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value ? u"true"_s : u"false"_s;
    }
    default:
        // Dictionaries, arrays, data, dates and the rest have no single-line text.
        return std::nullopt;
    }
}

}  // namespace

std::optional<QString> readPlistValue(const QString &plistPath, const QString &key)
{
    QFile file(plistPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // One byte past the limit tells an oversized file from one that fits exactly.
    return readPlistValueFromBytes(file.read(maxPlistBytes + 1), key);
}

std::optional<QString> readPlistValueFromBytes(const QByteArray &bytes, const QString &key)
{
    if (bytes.isEmpty() || bytes.size() > maxPlistBytes)
        return std::nullopt;

    // Takes XML and binary alike; leaves the root null when it cannot parse the bytes.
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<std::uint32_t>(bytes.size()), &parsed);
    const PlistPtr root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;
    // The item belongs to the root and is freed with it.
    const plist_t item = plist_dict_get_item(root.get(), key.toUtf8().constData());
    if (!item)
        return std::nullopt;
    return nodeText(item);
}

}  // namespace quillmere
