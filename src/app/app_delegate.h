#pragma once

#include "system/product.h"

#include <QObject>
#include <QTranslator>

#include <memory>

QT_BEGIN_NAMESPACE
class QAction;
class QLocale;
class QMenuBar;
QT_END_NAMESPACE

namespace quillmere {

class InstallerController;

// The application shell: owns the menu bar and, once launching has finished, the one
// controller. Lives as long as the process.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(Product productToInstall, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Creates the controller, shows its window in front, activates it and starts the
    // release check. Called once, when the event loop has started.
    void applicationDidFinishLaunching();

    [[nodiscard]] QMenuBar *menuBar() const { return mainMenu.get(); }
    [[nodiscard]] InstallerController *controller() const { return installerController.get(); }

Q_SIGNALS:
    // Someone asked the application to end: the menu item, or a quitting button.
    void terminateRequested();

private:
    Product product;
    // Parentless, so that it becomes the global menu bar where the platform has one.
    std::unique_ptr<QMenuBar> mainMenu;
    QAction *quitAction; // owned by the menu
    std::unique_ptr<InstallerController> installerController;
};

// On macOS Qt moves the QuitRole item into the application menu and titles it with its own
// "Quit %1" text; this answers that text with the item's own title, so the menu reads
// the item's own title there too. Elsewhere it is never asked.
class QuitItemTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;
    [[nodiscard]] QString translate(const char *context, const char *sourceText,
                                    const char *disambiguation, int n) const override;
    [[nodiscard]] bool isEmpty() const override { return false; }
};

// Installs Qt's own translations for `locale`, so the descriptions that the network layer
// gives read in the user's language. Returns the installed translator (owned by the
// application), or null when Qt has none for that language.
QTranslator *loadPlatformTranslations(const QLocale &locale);

}  // namespace quillmere
