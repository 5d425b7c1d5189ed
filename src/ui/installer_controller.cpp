#include "ui/installer_controller.h"

#include "ui/installer_window.h"
#include "ui/spinner.h"

#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>

namespace quillmere {

using namespace Qt::StringLiterals;

InstallerController::InstallerController(Product product, QObject *parent)
    : QObject(parent),
      product_(std::move(product)),
      sharedSession_(new QNetworkAccessManager(this)),
      window(std::make_unique<InstallerWindow>(product_.appName))
{
    statusLabel = window->statusLabel();
    detailLabel = window->detailLabel();
    progress = window->progress();
    actionButton = window->actionButton();
    spinner = window->spinner();

    connect(actionButton, &QPushButton::clicked, this, &InstallerController::primaryAction);
    connect(window->cancelButton(), &QPushButton::clicked, this, &InstallerController::cancel);
    window->centreOnScreen();
}

InstallerController::~InstallerController() = default;

QWidget *InstallerController::windowWidget() const
{
    return window.get();
}

void InstallerController::primaryAction()
{
    if (isWorking)
        return;
    if (!release) {
        fetchMetadata();
        return;
    }
    beginInstall(*release);
}

void InstallerController::cancel()
{
    if (downloadTask)
        downloadTask->abort();
    Q_EMIT terminateRequested();
}

void InstallerController::closeWindow()
{
    Q_EMIT terminateRequested();
}

void InstallerController::showFailure(const QString &message)
{
    isWorking = false;
    actionButton->setEnabled(true);
    spinner->stopAnimation();
    actionButton->setText(u"重试"_s);
    // The button may have been re-bound (to closeWindow after completion); failures always
    // lead back to the primary action.
    disconnect(actionButton, &QPushButton::clicked, this, nullptr);
    connect(actionButton, &QPushButton::clicked, this, &InstallerController::primaryAction);
    statusLabel->setText(u"安装未完成"_s);
    detailLabel->setText(message);

    QMessageBox alert(QMessageBox::Warning, u"安装未完成"_s, u"安装未完成"_s,
                      QMessageBox::NoButton, window.get());
    alert.setInformativeText(message);
    alert.setTextFormat(Qt::PlainText);
    QPushButton *ok = alert.addButton(u"好"_s, QMessageBox::AcceptRole);
    alert.setDefaultButton(ok);
    alert.setEscapeButton(ok);
    alert.exec();
}

}  // namespace quillmere
