// libFuzzer target: the property list reader used on Linux, on XML and binary property lists
// held in memory. The keys of the seeds are read back through the reader, whose text must fit
// the type of the value that libplist finds under the same key.

#include "platform/plist_reader.h"

#include <QByteArray>

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The keys the installer reads and those of the seeds, one for each kind of value. Keys are
// not listed from the input: libplist asserts on listing a key that holds a NUL, which the
// reader, looking keys up by name, never does.
constexpr const char *keys[] = {"CFBundleIdentifier", "CFBundleShortVersionString", "Count", "Negative",
                                "Huge", "Ratio", "Yes", "No", "Nested", "List", "Blob", "When", "N"};

void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "property list invariant broken: %s\n", what);
    std::abort();
}

struct PlistFree {
    void operator()(void *node) const { plist_free(node); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<std::uint32_t>(bytes.size()), &parsed);
    const std::unique_ptr<void, PlistFree> root(parsed);
    const bool isDict = root && plist_get_node_type(root.get()) == PLIST_DICT;

    for (const char *key : keys) {
        const std::optional<QString> text = quillmere::readPlistValueFromBytes(bytes, QString::fromLatin1(key));
        const plist_t item = isDict ? plist_dict_get_item(root.get(), key) : nullptr;
        bool isSigned = false;
        bool isUnsigned = false;
        switch (item ? plist_get_node_type(item) : PLIST_NONE) {
        case PLIST_UINT:
            if (text) {
                text->toLongLong(&isSigned);
                text->toULongLong(&isUnsigned);
            }
            require(isSigned || isUnsigned, "an integer reads as decimal text");
            break;
        case PLIST_BOOLEAN:
            require(text == u"true"_s || text == u"false"_s, "a boolean reads as true or false");
            break;
        case PLIST_REAL:
            require(text.has_value(), "a real has text");
            break;
        case PLIST_STRING:
            break; // absent when the string is not UTF-8
        default:
            require(!text, "a missing key, a container, data or a date has no text");
        }
    }
    return 0;
}
