#include "app/app_delegate.h"
#include "app/build_settings.h"
#include "app/trusted_authorities.h"
#include "system/product.h"
#include "ui/installer_window.h"

#include <QApplication>
#include <QLocale>
#include <QNetworkProxyFactory>
#include <QTimer>

int main(int, char *argv[])
{
    // The URLs and the key are checked before anything is shown: a build with a malformed one
    // is broken.
    const auto product = quillmere::makeProduct(quillmere::compiledProductSettings());
    if (!product)
        qFatal("The compiled-in update URLs are not absolute https URLs, or the package key is "
               "not the Base64 of 32 bytes.");

    // The installer reads no command line, so Qt gets none either: it would otherwise act on
    // -platform, -style, -stylesheet and the like. Qt keeps a reference to the count.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(product->appName);
    QApplication::setWindowIcon(quillmere::installerIcon());
    quillmere::loadPlatformTranslations(QLocale::system());
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    quillmere::trustExtraAuthorities(quillmere::compiledExtraAuthorities());

    quillmere::AppDelegate delegate(*product);
    QObject::connect(&delegate, &quillmere::AppDelegate::terminateRequested, &app,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, &delegate, &quillmere::AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
