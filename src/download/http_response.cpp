#include "download/http_response.h"

#include <limits>

namespace quillmere {

namespace {

// A head or a chunk line larger than this is not from a server we want to talk to.
constexpr qsizetype maxLineBytes = 64 * 1024;

// A non-negative decimal (base 10) or hexadecimal (base 16) number with nothing around it.
std::optional<qint64> parseCount(QByteArrayView text, int base)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'))
            digit = (c | 0x20) - 'a' + 10;
        else
            return std::nullopt;
        if (value > (std::numeric_limits<qint64>::max() - digit) / base)
            return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

}  // namespace

void HttpResponseParser::feed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && (state_ == State::Head || state_ == State::Body)) {
        if (state_ == State::Head) {
            const qsizetype before = pending_.size();
            pending_.append(bytes.first(std::min(bytes.size(), maxLineBytes + 4 - before)));
            const qsizetype end = pending_.indexOf("\r\n\r\n");
            if (end < 0) {
                if (pending_.size() > maxLineBytes)
                    fail(Failure::Malformed);
                return;
            }
            const qsizetype used = end + 4 - before;
            bytes = bytes.sliced(used);
            const QByteArray head = pending_.left(end);
            pending_.clear();
            if (!parseHead(head))
                return;
            continue;
        }
        switch (framing_) {
        case Framing::UntilClose:
            deliver(bytes);
            return;
        case Framing::Length: {
            const auto take = qsizetype(std::min<qint64>(remaining_, bytes.size()));
            if (!deliver(bytes.first(take)))
                return;
            remaining_ -= take;
            if (remaining_ == 0)
                state_ = State::Done;
            return;
        }
        case Framing::Chunked:
            bytes = bytes.sliced(feedChunked(bytes));
            break;
        }
    }
}

void HttpResponseParser::finish()
{
    if (state_ == State::Body && framing_ == Framing::UntilClose)
        state_ = State::Done;
    else if (state_ == State::Head || state_ == State::Body)
        fail(Failure::Truncated);
}

std::optional<QByteArray> HttpResponseParser::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers_)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

std::optional<qint64> HttpResponseParser::contentLength() const
{
    return framing_ == Framing::Length ? std::optional<qint64>(remaining_ + bodyBytes_)
                                       : std::nullopt;
}

bool HttpResponseParser::parseHead(QByteArrayView head)
{
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    // "HTTP/1.1 200 OK": the version, three digits, an optional reason.
    const QByteArray statusLine = lines.first().trimmed();
    if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 || statusLine.at(8) != ' ') {
        fail(Failure::Malformed);
        return false;
    }
    const std::optional<qint64> code = parseCount(QByteArrayView(statusLine).sliced(9, 3), 10);
    if (!code || *code < 100 || (statusLine.size() > 12 && statusLine.at(12) != ' ')) {
        fail(Failure::Malformed);
        return false;
    }
    status_ = int(*code);
    headers_.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            fail(Failure::Malformed);
            return false;
        }
        headers_.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    // An interim answer (100 Continue and the like): the real one follows.
    if (status_ < 200) {
        status_ = 0;
        return true;
    }

    state_ = State::Body;
    const std::optional<QByteArray> coding = header("Transfer-Encoding");
    const std::optional<QByteArray> length = header("Content-Length");
    if (coding && coding->toLower().contains("chunked")) {
        framing_ = Framing::Chunked;
    } else if (length) {
        const std::optional<qint64> count = parseCount(*length, 10);
        if (!count) {
            fail(Failure::Malformed);
            return false;
        }
        framing_ = Framing::Length;
        remaining_ = *count;
        if (remaining_ == 0)
            state_ = State::Done;
    } else {
        framing_ = Framing::UntilClose;
    }
    return true;
}

qsizetype HttpResponseParser::feedChunked(QByteArrayView bytes)
{
    if (chunk_ == Chunk::Data) {
        const auto take = qsizetype(std::min<qint64>(remaining_, bytes.size()));
        if (!deliver(bytes.first(take)))
            return bytes.size();
        remaining_ -= take;
        if (remaining_ == 0)
            chunk_ = Chunk::DataEnd;
        return take;
    }
    // The other states read one line: a chunk size, the end of a chunk's data, a trailer.
    const qsizetype newline = bytes.indexOf('\n');
    const qsizetype used = newline < 0 ? bytes.size() : newline + 1;
    pending_.append(bytes.first(used));
    if (pending_.size() > maxLineBytes) {
        fail(Failure::Malformed);
        return bytes.size();
    }
    if (newline < 0)
        return used;
    const QByteArray line = pending_.trimmed();
    pending_.clear();
    switch (chunk_) {
    case Chunk::Size: {
        const qsizetype extension = line.indexOf(';');
        const std::optional<qint64> size =
            parseCount(QByteArrayView(line).first(extension < 0 ? line.size() : extension).trimmed(), 16);
        if (!size) {
            fail(Failure::Malformed);
            return bytes.size();
        }
        remaining_ = *size;
        chunk_ = *size == 0 ? Chunk::Trailer : Chunk::Data;
        break;
    }
    case Chunk::DataEnd:
        if (!line.isEmpty()) {
            fail(Failure::Malformed);
            return bytes.size();
        }
        chunk_ = Chunk::Size;
        break;
    case Chunk::Trailer:
        if (line.isEmpty())
            state_ = State::Done;
        break;
    case Chunk::Data:
        break;
    }
    return used;
}

bool HttpResponseParser::deliver(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return true;
    if (!sink_(bytes)) {
        fail(Failure::SinkRefused);
        return false;
    }
    bodyBytes_ += bytes.size();
    return true;
}

void HttpResponseParser::fail(Failure why)
{
    state_ = State::Failed;
    failure_ = why;
}

}  // namespace quillmere
