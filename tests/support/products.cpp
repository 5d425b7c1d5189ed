#include "support/products.h"

namespace quillmere::test {

using namespace Qt::StringLiterals;

Product productFor(const QUrl &base, const QString &installFolder)
{
    auto product = makeProduct({base.resolved(QUrl(u"latest-mac.yml"_s)).toString(), base.toString(),
                                u"com.quillmere.desktop"_s, installFolder});
    Q_ASSERT(product);
    return *product;
}

}  // namespace quillmere::test
