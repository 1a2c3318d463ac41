// Adding records to the record list must take linear time: the key check is a
// hash lookup. Measures 10,000 and 100,000 distinct records, then the same
// again as duplicates, against a bare QSet<QString> doing the same key work.
// Target: the cost per record grows at most 3x from 10,000 to 100,000 records
// (1x is linear time; a list scan per record would make it 10x). Exits 1 when missed.
#include "search/record_list.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <cstdio>

namespace {

QStringList Links(int n) {
    QStringList links;
    links.reserve(n);
    for (int i = 0; i < n; ++i)
        links.append(
            QStringLiteral("https://www.example.com/search/doc.url?docid=cpx_%1&db=c").arg(i));
    return links;
}

struct Figures {
    double addNs;
    double duplicateNs;
    double referenceNs;
    bool correct;
};

constexpr double MaxGrowth = 3.0;

Figures Measure(const QStringList& links) {
    const QString title = QStringLiteral("A fairly typical title of an engineering paper");
    const QString type = QStringLiteral("pdf");
    RecordListModel records;
    QElapsedTimer clock;
    clock.start();
    for (const QString& link : links)
        records.加入LV1(title, link, type, QString());
    const qint64 add = clock.nsecsElapsed();
    clock.restart();
    int rejected = 0;
    for (const QString& link : links)
        rejected += records.加入LV1(title, link, type, QString()) ? 0 : 1;
    const qint64 duplicate = clock.nsecsElapsed();
    const bool correct = rejected == links.size() && records.count() == links.size();
    if (!correct)
        std::fprintf(stderr, "wrong result: %d rejected, %d rows\n", rejected, records.count());

    QSet<QString> reference;
    clock.restart();
    for (const QString& link : links)
        reference.insert(link);
    for (const QString& link : links)
        reference.contains(link);
    const qint64 ref = clock.nsecsElapsed();
    const double n = double(links.size());
    return {add / n, duplicate / n, ref / n, correct};
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::printf("record list: time per record (ns)\n");
    std::printf("%9s %10s %10s %14s %7s\n", "records", "add", "duplicate", "QSet reference",
                "ratio");
    Figures small{};
    Figures large{};
    for (int n : {10000, 100000}) {
        const Figures f = Measure(Links(n));
        (n == 10000 ? small : large) = f;
        std::printf("%9d %10.0f %10.0f %14.0f %7.1f\n", n, f.addNs, f.duplicateNs, f.referenceNs,
                    (f.addNs + f.duplicateNs) / f.referenceNs);
    }
    const double growth =
        std::max(large.addNs / small.addNs, large.duplicateNs / small.duplicateNs);
    std::printf("growth of the per-record cost from 10,000 to 100,000 records: add %.2fx, "
                "duplicate %.2fx (1.0x is linear time)\n",
                large.addNs / small.addNs, large.duplicateNs / small.duplicateNs);
    const bool pass = small.correct && large.correct && growth <= MaxGrowth;
    std::printf("BENCH record list | %.0f ns/record | QSet %.0f ns/record | %.1f | "
                "growth %.2fx <= %.1fx | %s\n",
                large.addNs + large.duplicateNs, large.referenceNs,
                (large.addNs + large.duplicateNs) / large.referenceNs, growth, MaxGrowth,
                pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
