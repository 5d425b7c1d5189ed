#include "system/text.h"

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace Qt::StringLiterals;

TEST(Text, TrimmedTextRemovesSpacesAndLineBreaksOnlyAtTheEnds)
{
    const std::pair<QString, QString> rows[] = {
        {u"\t\n\r\v\f 1.4.2 \f\v\r\n\t"_s, u"1.4.2"_s},
        {u"\u0085\u00a0\u3000\u2028\u2029a b\u2029\u2028\u3000\u00a0\u0085"_s, u"a b"_s},
        {u"  \u00a0 "_s, u""_s},
        // Not separators: an ASCII control and the zero-width space stay.
        {u"\u0001a\u0001"_s, u"\u0001a\u0001"_s},
        {u" \u200ba\u200b "_s, u"\u200ba\u200b"_s},
    };
    for (const auto &[text, trimmed] : rows)
        EXPECT_EQ(trimmedText(text), trimmed) << text.toStdString();
}

}  // namespace
}  // namespace quillmere
