#include "download/http_response.h"

#include "support/printing.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

struct Row {
    const char *name;
    QByteArray bytes;
    bool closed; // the connection ends after the bytes
    HttpResponseParser::State state;
    int status;
    QByteArray body;
    std::optional<qint64> length;
};

class HttpResponse : public ::testing::TestWithParam<Row> {};

// Every row is fed whole, byte by byte, and in pieces of 7, so the framing must not depend on
// where the network happens to cut.
TEST_P(HttpResponse, ReadsWhateverThePieces)
{
    const Row &row = GetParam();
    for (const qsizetype piece : {row.bytes.size() + 1, qsizetype(1), qsizetype(7)}) {
        SCOPED_TRACE(piece);
        QByteArray body;
        HttpResponseParser parser([&](QByteArrayView bytes) {
            body += bytes.toByteArray();
            return true;
        });
        for (qsizetype at = 0; at < row.bytes.size(); at += piece)
            parser.feed(QByteArrayView(row.bytes).sliced(at, std::min(piece, row.bytes.size() - at)));
        if (row.closed)
            parser.finish();
        EXPECT_EQ(parser.state(), row.state);
        if (row.state == HttpResponseParser::State::Failed)
            continue;
        EXPECT_EQ(parser.status(), row.status);
        EXPECT_EQ(body, row.body);
        EXPECT_EQ(parser.contentLength(), row.length);
    }
}

using S = HttpResponseParser::State;
INSTANTIATE_TEST_SUITE_P(Framings, HttpResponse, ::testing::Values(
    Row{"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", false, S::Done, 200, "hello", 5},
    Row{"emptyBody", "HTTP/1.1 404 Not Found\r\ncontent-length: 0\r\n\r\n", false, S::Done, 404, "", 0},
    Row{"untilCloseStillOpen", "HTTP/1.1 200 OK\r\n\r\nabc", false, S::Body, 200, "abc", {}},
    Row{"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 99\r\n\r\n"
                   "5;x=y\r\nhello\r\nA\r\n0123456789\r\n0\r\nTrailer: t\r\n\r\n",
        false, S::Done, 200, "hello0123456789", {}},
    Row{"chunkedCutShort", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", true,
        S::Failed, 0, {}, {}},
    Row{"badChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
        S::Failed, 0, {}, {}},
    Row{"chunkWithoutItsLineEnd", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
        false, S::Failed, 0, {}, {}},
    Row{"interimAnswerSkipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
        false, S::Done, 200, "ok", 2},
    Row{"notHttp", "SSH-2.0-OpenSSH\r\n\r\n", false, S::Failed, 0, {}, {}},
    Row{"badLength", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, S::Failed, 0, {}, {}},
    Row{"hugeLength", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", false,
        S::Failed, 0, {}, {}},
    Row{"headerWithoutColon", "HTTP/1.1 200 OK\r\nbroken\r\n\r\n", false, S::Failed, 0, {}, {}},
    Row{"noEndOfHead", "HTTP/1.1 200 OK\r\nA: b\r\n", true, S::Failed, 0, {}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HttpResponseLimits, AnEndlessHeadFailsInsteadOfGrowing)
{
    HttpResponseParser parser([](QByteArrayView) { return true; });
    parser.feed("HTTP/1.1 200 OK\r\n");
    const QByteArray filler(1024, 'a');
    for (int i = 0; i < 100 && parser.state() == HttpResponseParser::State::Head; ++i)
        parser.feed(filler);
    EXPECT_EQ(parser.state(), HttpResponseParser::State::Failed);
}

TEST(HttpResponseLimits, ASinkThatRefusesStopsTheBody)
{
    HttpResponseParser parser([](QByteArrayView) { return false; });
    parser.feed("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(parser.state(), HttpResponseParser::State::Failed);
    EXPECT_EQ(parser.failure(), HttpResponseParser::Failure::SinkRefused);
}

}  // namespace
}  // namespace quillmere
