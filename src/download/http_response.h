#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>

#include <functional>
#include <optional>

namespace quillmere {

// Reads one HTTP/1.1 response as it arrives, in pieces of any size: the status line and
// headers, then the body framed by chunked transfer coding, by Content-Length, or by the end of
// the connection. Interim 1xx answers are skipped. Body bytes go straight to the sink, so
// nothing of the body is kept here. Pure: no I/O.
class HttpResponseParser {
public:
    enum class State { Head, Body, Done, Failed };
    // Receives each piece of the body; returns false to stop (the parser then fails).
    using BodySink = std::function<bool(QByteArrayView)>;

    explicit HttpResponseParser(BodySink sink) : sink_(std::move(sink)) {}

    // Takes the next bytes of the connection. Bytes after the end of the response are ignored.
    void feed(QByteArrayView bytes);
    // The connection has ended: completes a body that runs to the end of the connection, and
    // fails any other response that is not complete yet.
    void finish();

    [[nodiscard]] State state() const { return state_; }
    // Once past Head: the final status code and the headers, names as sent.
    [[nodiscard]] int status() const { return status_; }
    [[nodiscard]] std::optional<QByteArray> header(QByteArrayView name) const;
    // The announced body length; absent with chunked coding or when none was sent.
    [[nodiscard]] std::optional<qint64> contentLength() const;
    [[nodiscard]] qint64 bodyBytes() const { return bodyBytes_; }
    // Why it failed: the head or the chunk framing is malformed, the body was cut short, or
    // the sink refused.
    enum class Failure { None, Malformed, Truncated, SinkRefused };
    [[nodiscard]] Failure failure() const { return failure_; }

private:
    enum class Framing { Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailer };

    bool parseHead(QByteArrayView head);
    void fail(Failure why);
    bool deliver(QByteArrayView bytes);
    qsizetype feedChunked(QByteArrayView bytes);

    BodySink sink_;
    State state_ = State::Head;
    Failure failure_ = Failure::None;
    QByteArray pending_; // an unfinished head or chunk line
    int status_ = 0;
    QList<QPair<QByteArray, QByteArray>> headers_;
    Framing framing_ = Framing::UntilClose;
    qint64 remaining_ = 0; // of the body (Length) or of the current chunk (Chunked)
    Chunk chunk_ = Chunk::Size;
    qint64 bodyBytes_ = 0;
};

}  // namespace quillmere
