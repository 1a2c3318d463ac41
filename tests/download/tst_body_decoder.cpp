#include "download/body_decoder.h"
#include "test_main.h"

#include <QRandomGenerator>

#include <zlib.h>

namespace {

// windowBits as zlib takes them: 15 zlib, 31 gzip, -15 raw deflate.
QByteArray Compress(const QByteArray& plain, int windowBits) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    QByteArray out(int(deflateBound(&zs, uLong(plain.size()))) + 32, Qt::Uninitialized);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    zs.avail_in = uInt(plain.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

struct Result {
    QByteArray bytes;
    bool accepted = true;
    bool complete = false;
    bool corrupt = false;
};

// Feeds body in reads of the given sizes (the last one takes the rest).
Result Decode(const QByteArray& encoding, const QByteArray& body, QList<int> reads) {
    BodyDecoder decoder(encoding);
    Result r;
    const auto sink = [&r](const char* data, qint64 n) {
        r.bytes.append(data, n);
        return true;
    };
    qsizetype at = 0;
    while (at < body.size() && r.accepted) {
        const qsizetype n = reads.isEmpty()
                                ? body.size() - at
                                : std::min<qsizetype>(reads.takeFirst(), body.size() - at);
        r.accepted = decoder.feed(body.constData() + at, n, sink);
        at += n;
    }
    r.complete = decoder.complete();
    r.corrupt = decoder.corrupt();
    return r;
}

QList<int> Ones(int n) {
    return QList<int>(n, 1);
}

} // namespace

// However the network cuts a body into reads, the decoder makes the same of it, and
// only a stream that reached its own end counts as complete.
class TestBodyDecoder : public QObject {
    Q_OBJECT

    QByteArray plain_;

private slots:
    void initTestCase() {
        QRandomGenerator random(7);
        for (int i = 0; i < 20000; ++i)
            plain_.append(char('a' + random.bounded(6)));
    }

    void everyCutDecodesAlike() {
        const QList<QPair<QByteArray, QByteArray>> bodies = {
            {"gzip", Compress(plain_, 31)},
            {"x-gzip", Compress(plain_, 31)},
            {"deflate", Compress(plain_, 15)},  // as meant: a zlib stream
            {"deflate", Compress(plain_, -15)}, // as some servers send it: raw
        };
        for (const auto& [encoding, body] : bodies) {
            QVERIFY(!body.isEmpty());
            for (const QList<int>& reads :
                 {QList<int>{}, Ones(body.size()), QList<int>{1, 1, 5}, QList<int>{0, 1, 0, 3},
                  QList<int>{1, 4096}, QList<int>{2}}) {
                const Result r = Decode(encoding, body, reads);
                QVERIFY2(r.accepted && !r.corrupt && r.complete, encoding.constData());
                QVERIFY2(r.bytes == plain_, encoding.constData());
            }
        }
        // Two gzip members one after the other, as some servers send them.
        const QByteArray two = Compress("first ", 31) + Compress("second", 31);
        QCOMPARE(Decode("gzip", two, Ones(two.size())).bytes, QByteArray("first second"));
        QCOMPARE(Decode("gzip", two, {}).bytes, QByteArray("first second"));
    }

    void cutOrCorruptBodiesAreNeverComplete() {
        const QByteArray raw = Compress(plain_, -15);
        for (const QList<int>& reads : {QList<int>{}, Ones(raw.size())}) {
            // Cut short: a plausible prefix, but not the end.
            const Result cut = Decode("deflate", raw.left(raw.size() / 2), reads);
            QVERIFY(cut.accepted && !cut.complete);
            QVERIFY(plain_.startsWith(cut.bytes));
            // A single byte, whole or alone, proves nothing either way.
            const Result one = Decode("deflate", raw.left(1), reads);
            QVERIFY(one.accepted && !one.complete && !one.corrupt && one.bytes.isEmpty());
        }
        QByteArray broken = Compress(plain_, 31);
        broken[broken.size() / 2] = char(broken[broken.size() / 2] ^ 0x55);
        broken[broken.size() / 2 + 1] = char(broken[broken.size() / 2 + 1] ^ 0x55);
        const Result bad = Decode("gzip", broken, {});
        QVERIFY(!bad.complete);
        const Result badPieces = Decode("gzip", broken, Ones(broken.size()));
        QCOMPARE(badPieces.complete, bad.complete);
        QCOMPARE(badPieces.corrupt, bad.corrupt);
        QCOMPARE(badPieces.bytes, bad.bytes);
        // Not compressed at all.
        const Result text = Decode("gzip", "<html>not gzip</html>", {});
        QVERIFY(!text.accepted && text.corrupt && !text.complete);
    }
};

QM_TEST_GUILESS_MAIN(TestBodyDecoder)
#include "tst_body_decoder.moc"
