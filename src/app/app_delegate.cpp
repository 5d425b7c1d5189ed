#include "app/app_delegate.h"

#include "system/texts.h"
#include "ui/installer_controller.h"

#include <QAction>
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>

namespace quillmere {

using namespace Qt::StringLiterals;

AppDelegate::AppDelegate(Product productToInstall, QObject *parent)
    : QObject(parent), product(std::move(productToInstall)), mainMenu(std::make_unique<QMenuBar>())
{
    QMenu *appMenu = mainMenu->addMenu(product.appName);
    QAction *quit = quitAction = appMenu->addAction(quitItemText());
    // QuitRole puts the item where macOS users look for it, with Command-Q; the translator
    // keeps its title (Qt would put its own there). Installed after Qt's own translations,
    // so it is asked first.
    quit->setMenuRole(QAction::QuitRole);
    QCoreApplication::installTranslator(new QuitItemTranslator(this));
    // Qt's CTRL is Command on macOS, so this is Command-Q there and Ctrl+Q elsewhere (the
    // standard Quit binding is empty on some Linux desktops).
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &AppDelegate::terminateRequested);
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    installerController = std::make_unique<InstallerController>(product);
    connect(installerController.get(), &InstallerController::terminateRequested, this,
            &AppDelegate::terminateRequested);
    QWidget *window = installerController->windowWidget();
    // Where the menu bar is not shown (outside macOS) its shortcut only works through a
    // visible widget that carries the action.
    window->addAction(quitAction);
    window->show();
    window->raise();
    window->activateWindow();
    installerController->fetchMetadata();
}

QString QuitItemTranslator::translate(const char *context, const char *sourceText,
                                     const char *, int) const
{
    const QByteArrayView where(context);
    if ((where == "MAC_APPLICATION_MENU" || where == "QMenuBar") && QByteArrayView(sourceText) == "Quit %1")
        return quitItemText();
    return {};
}

QTranslator *loadPlatformTranslations(const QLocale &locale)
{
    auto translator = std::make_unique<QTranslator>(qApp);
    if (!translator->load(locale, u"qtbase"_s, u"_"_s,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

}  // namespace quillmere
