// A small HTTPS server for trying the installer on this machine: it serves the files of one
// folder at https://127.0.0.1:PORT/ and prints one line per request. GET only, one request
// per connection, nothing outside the folder.
//
//     quillmere-update-server ROOT CERT.pem KEY.pem PORT
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

using namespace Qt::StringLiterals;

constexpr qsizetype maxHeaderBytes = 16 * 1024;
constexpr qint64 sliceBytes = 64 * 1024;

void log(const QByteArray &line)
{
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

// The file under `root` that a request target names, or empty when it names none.
QString fileFor(const QString &root, const QByteArray &target)
{
    const qsizetype query = target.indexOf('?');
    const QString path = QUrl::fromPercentEncoding(query < 0 ? target : target.left(query));
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(u'/') || clean.startsWith(u"/.."_s) || clean.contains(QChar(0)))
        return {};
    const QFileInfo info(root + clean);
    return info.isFile() ? info.absoluteFilePath() : QString();
}

// Answers one request on `socket`, streaming a file's body so that memory stays flat.
class Exchange : public QObject {
public:
    Exchange(QSslSocket *socket, QString root) : QObject(socket), socket_(socket), root_(std::move(root))
    {
        connect(socket_, &QSslSocket::readyRead, this, &Exchange::readRequest);
        connect(socket_, &QSslSocket::bytesWritten, this, &Exchange::sendMore);
        connect(socket_, &QSslSocket::disconnected, socket_, &QObject::deleteLater);
    }

private:
    void readRequest()
    {
        if (answered_)
            return;
        request_ += socket_->readAll();
        const qsizetype end = request_.indexOf("\r\n\r\n");
        if (end < 0) {
            if (request_.size() > maxHeaderBytes)
                answer(431, "Request Header Fields Too Large", {});
            return;
        }
        const QList<QByteArray> requestLine = request_.left(request_.indexOf("\r\n")).split(' ');
        if (requestLine.size() != 3 || requestLine[0] != "GET")
            return answer(405, "Method Not Allowed", requestLine.value(1));
        const QString path = fileFor(root_, requestLine[1]);
        if (path.isEmpty())
            return answer(404, "Not Found", requestLine[1]);
        file_ = std::make_unique<QFile>(path);
        if (!file_->open(QIODevice::ReadOnly))
            return answer(403, "Forbidden", requestLine[1]);
        answer(200, "OK", requestLine[1]);
    }

    void answer(int status, const QByteArray &reason, const QByteArray &target)
    {
        answered_ = true;
        log("GET " + target + ' ' + QByteArray::number(status));
        const qint64 length = status == 200 ? file_->size() : 0;
        socket_->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
                       + "\r\nContent-Length: " + QByteArray::number(length)
                       + "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
        if (status != 200)
            file_.reset();
        sendMore();
    }

    void sendMore()
    {
        if (!answered_ || socket_->encryptedBytesToWrite() + socket_->bytesToWrite() > sliceBytes)
            return;
        if (file_ && !file_->atEnd()) {
            socket_->write(file_->read(sliceBytes));
            return;
        }
        if (socket_->bytesToWrite() == 0)
            socket_->disconnectFromHost();
    }

    QSslSocket *socket_;
    QString root_;
    QByteArray request_;
    std::unique_ptr<QFile> file_;
    bool answered_ = false;
};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool portOk = false;
    const quint16 port = args.value(4).toUShort(&portOk);
    if (args.size() != 5 || !portOk) {
        std::fprintf(stderr, "usage: quillmere-update-server ROOT CERT.pem KEY.pem PORT\n");
        return 2;
    }
    const QString root = QDir(args[1]).absolutePath();
    QFile certFile(args[2]), keyFile(args[3]);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the certificate or key\n");
        return 1;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate(&certFile, QSsl::Pem));
    config.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
    if (config.localCertificate().isNull() || config.privateKey().isNull()) {
        std::fprintf(stderr, "the certificate or key does not parse\n");
        return 1;
    }

    QSslServer server;
    server.setSslConfiguration(config);
    QObject::connect(&server, &QSslServer::pendingConnectionAvailable, &server, [&server, &root] {
        while (QTcpSocket *next = server.nextPendingConnection())
            new Exchange(static_cast<QSslSocket *>(next), root);
    });
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(server.errorString()));
        return 1;
    }
    log("serving " + QFile::encodeName(root) + " at https://127.0.0.1:" + QByteArray::number(port) + "/");
    return app.exec();
}
