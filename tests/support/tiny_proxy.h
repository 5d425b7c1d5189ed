#pragma once

// Debian's tinyproxy as the user's HTTPS proxy, started as a plain child process with a
// configuration of its own (listening on 127.0.0.1, logging each CONNECT), stopped when the
// object goes. It asks for `credentials` ("user:password") when there are any.

#include <QFile>
#include <QHostInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace quillmere::test {

class TinyProxy {
public:
    explicit TinyProxy(const QByteArray &credentials)
    {
        // A free port, handed on; below the range the system takes connections' own ports
        // from, or the check below could connect a socket to itself and hold the port.
        for (QTcpServer probe; !port_;) {
            const auto port = quint16(QRandomGenerator::global()->bounded(20000, 32000));
            port_ = probe.listen(QHostAddress::LocalHost, port) ? port : 0;
        }
        QFile config(folder_.filePath(QStringLiteral("tinyproxy.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write("Port " + QByteArray::number(port_) + "\nListen 127.0.0.1\nTimeout 30\nLogLevel Connect\n"
                     "LogFile \"" + QFile::encodeName(logPath()) + "\"\nBasicAuth " + QByteArray(credentials).replace(':', ' ') + '\n');
        config.close();
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("tinyproxy"), {QStringLiteral("-d"), QStringLiteral("-c"), config.fileName()});
        running_ = process_.waitForStarted(5000) && QTest::qWaitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port_);
            return socket.waitForConnected(100);
        }, 5000);
    }
    ~TinyProxy()
    {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    // Started and listening; else what it printed.
    [[nodiscard]] std::optional<QByteArray> failure() { return running_ ? std::nullopt : std::optional(process_.readAll()); }
    [[nodiscard]] quint16 port() const { return port_; }
    // How many tunnels were asked for to `hostAndPort`.
    [[nodiscard]] qsizetype tunnelsTo(const QByteArray &hostAndPort) const
    {
        QFile log(logPath());
        return log.open(QIODevice::ReadOnly) ? log.readAll().count(": CONNECT " + hostAndPort + ' ') : -1;
    }

    // A name of this machine, other than "localhost", that resolves to loopback addresses only
    // (Qt never proxies a loopback address or "localhost"); empty when there is none.
    static QString loopbackHostName()
    {
        const QString name = QHostInfo::localHostName();
        const QList<QHostAddress> addresses = QHostInfo::fromName(name).addresses();
        const bool loopbackOnly = std::all_of(addresses.cbegin(), addresses.cend(), [](const auto &a) { return a.isLoopback(); });
        return name.isEmpty() || name == QStringLiteral("localhost") || addresses.isEmpty() || !loopbackOnly ? QString() : name;
    }

private:
    QString logPath() const { return folder_.filePath(QStringLiteral("tinyproxy.log")); }

    QTemporaryDir folder_;
    quint16 port_ = 0;
    QProcess process_;
    bool running_ = false;
};

}  // namespace quillmere::test
