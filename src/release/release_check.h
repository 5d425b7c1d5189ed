#pragma once

#include "release/package_entry.h"
#include "release/release.h"
#include "system/transfer.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

QT_BEGIN_NAMESPACE
class QNetworkAccessManager;
class QNetworkReply;
QT_END_NAMESPACE

namespace quillmere {

// How one release check ended.
struct ReleaseCheckResult {
    enum class Status {
        Found,       // the manifest parsed; release is set
        NoAnswer,    // the request failed; errorDescription holds the network layer's words
        BadManifest, // an answer came, but it is not UTF-8 or not a manifest
    };
    Status status;
    std::optional<Release> release;
    QString errorDescription;
    // With a release: the manifest's own entry for its package, when it has one.
    std::optional<PackageEntry> packageEntry;
};

// The network half of the release check: asks the server for the manifest, never from a
// cache, and reports the parsed release or why there is none. Knows nothing of the window.
// One check at a time; main thread only.
class ReleaseCheck : public QObject {
    Q_OBJECT
public:
    // Asks for the manifest at `manifest`; the package's name in it is appended to
    // `packageBase`.
    ReleaseCheck(QUrl manifest, QUrl packageBase, QObject *parent = nullptr);

    // The longest wait for further data from the server (transferIdleLimit); tests shorten it.
    void setIdleLimit(std::chrono::milliseconds limit) { idleLimit = limit; }

    // Sends the request and returns; finished() follows once, later, unless this object is
    // destroyed first.
    void start();

Q_SIGNALS:
    void finished(const quillmere::ReleaseCheckResult &result);

private:
    QUrl metadataURL;
    QUrl downloadBase;
    std::chrono::milliseconds idleLimit{transferIdleLimit};
    // One long-lived session for the manifest.
    QNetworkAccessManager *session;
};

}  // namespace quillmere
