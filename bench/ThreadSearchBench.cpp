// Thread search in the rail: 500 threads of 10^3 events each (about 45 MB of text), searched as the user
// types.
//
//   BM_BuildIndex        the first query: every thread's text folded into the search index (opening the
//                        search builds it in the background, a few milliseconds per turn of the event loop,
//                        so this is what a letter typed at once after opening would wait at worst)
//   BM_TypeQuery         typing a 10-letter query letter by letter into a built index (all 10 filters)
//   BM_MissingWord       one keystroke of a word that is nowhere: every thread's whole text scanned
//   BM_StreamWhileSearching  one streamed chunk (20 characters) into a thread while a query is set
//   BM_NaiveMissingWord  the baseline: QString::contains(CaseInsensitive) over every title and event, which
//   is
//                        what one keystroke would cost without an index (and it still misses accents)
//
// "No visible delay" means one keystroke well under a frame budget of 16 ms; the ratios printed after the run
// put each figure against the naive scan of the same run.

#include "DesktopThreadSearchModel.h"

#include "RatioReporter.h"
#include "ThreadListFixture.h"

#include <benchmark/benchmark.h>

#include <QRandomGenerator>
#include <QStringList>

#include <cstdio>
#include <memory>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int threadCount = 500;
constexpr int eventsPerThread = 1000;

// Words of a coding conversation, a few with accents.
const QStringList &vocabulary() {
    static const QStringList words = [] {
        QStringList list = u"the a build test deploy server client request response error warning file read "
                           u"write grep diff patch commit branch merge rebase function class method value "
                           u"return index model view thread session event approval token usage result "
                           u"status working done cancelled project folder README.md CMakeLists.txt src "
                           u"include header source compile link run check fix bug issue crash memory leak "
                           u"pointer reference lambda template vector string list map set queue résumé "
                           u"café naïve façade Zürich Ångström élève"_s.split(u' ');
        return list;
    }();
    return words;
}

QString sentence(QRandomGenerator &random, int words) {
    QStringList picked;
    for (int i = 0; i < words; ++i)
        picked.append(vocabulary()[random.bounded(int(vocabulary().size()))]);
    return picked.join(u' ');
}

// The threads, built once: events of 8 to 20 words (about 90 characters), a tenth of them with a detail.
ThreadListFixture &threads() {
    static ThreadListFixture *list = [] {
        auto *built = new ThreadListFixture;
        QRandomGenerator random(42);
        const std::array kinds{DesktopCodingEventKind::userMessage, DesktopCodingEventKind::status,
                               DesktopCodingEventKind::toolUse, DesktopCodingEventKind::assistantText,
                               DesktopCodingEventKind::completed};
        for (int t = 0; t < threadCount; ++t) {
            QList<DesktopCodingEvent> events;
            events.reserve(eventsPerThread);
            for (int e = 0; e < eventsPerThread; ++e)
                events.append(DesktopCodingEvent(
                    u"t%1-%2"_s.arg(t).arg(e), kinds[random.bounded(int(kinds.size()))],
                    sentence(random, 8 + random.bounded(13)),
                    random.bounded(10) == 0 ? std::optional<QString>(sentence(random, 5)) : std::nullopt));
            built->append(makeThread(u"t%1"_s.arg(t), sentence(random, 4), std::move(events)));
        }
        return built;
    }();
    return *list;
}

std::unique_ptr<DesktopThreadSearchModel> makeSearch() {
    return std::make_unique<DesktopThreadSearchModel>(&threads(),
                                                      [](int row) { return threads().threadAt(row); });
}

// A search whose index is built (the proxy filters lazily: the first row count runs the filter).
std::unique_ptr<DesktopThreadSearchModel> builtSearch() {
    auto search = makeSearch();
    search->setQuery(u"x"_s);
    benchmark::DoNotOptimize(search->rowCount());
    return search;
}

void BM_BuildIndex(benchmark::State &state) {
    threads();
    for (auto _ : state) {
        auto search = makeSearch();
        search->setQuery(u"zq"_s);
        benchmark::DoNotOptimize(search->rowCount());
    }
}
BENCHMARK(BM_BuildIndex)->Arg(threadCount)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(2);

void BM_TypeQuery(benchmark::State &state) {
    auto search = builtSearch();
    const QString query = u"compile fi"_s;
    for (auto _ : state) {
        for (qsizetype i = 1; i <= query.size(); ++i)
            search->setQuery(query.left(i));
        benchmark::DoNotOptimize(search->rowCount());
        search->setQuery(QString());
    }
}
BENCHMARK(BM_TypeQuery)->Arg(threadCount)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_MissingWord(benchmark::State &state) {
    auto search = builtSearch();
    bool flip = false;
    for (auto _ : state) {
        search->setQuery(flip ? u"kubernetes"_s : u"terraform"_s); // neither narrows the other
        flip = !flip;
        benchmark::DoNotOptimize(search->rowCount());
    }
}
BENCHMARK(BM_MissingWord)->Arg(threadCount)->Unit(benchmark::kMillisecond)->Repetitions(3);

void BM_StreamWhileSearching(benchmark::State &state) {
    auto search = builtSearch();
    search->setQuery(u"kubernetes"_s);
    for (auto _ : state)
        threads().change(7, [](DesktopCodingThread &thread) {
            thread.session.events.last().summary.append(u" streamed words "_s);
        });
    benchmark::DoNotOptimize(search->rowCount());
}
BENCHMARK(BM_StreamWhileSearching)->Arg(threadCount)->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_NaiveMissingWord(benchmark::State &state) {
    threads();
    for (auto _ : state) {
        int matches = 0;
        for (const DesktopCodingThread &thread : threads().threads) {
            bool found = thread.title.contains(u"kubernetes"_s, Qt::CaseInsensitive);
            for (qsizetype i = 0; !found && i < thread.session.events.size(); ++i) {
                const DesktopCodingEvent &event = thread.session.events[i];
                found = event.summary.contains(u"kubernetes"_s, Qt::CaseInsensitive) ||
                        (event.detail && event.detail->contains(u"kubernetes"_s, Qt::CaseInsensitive));
            }
            matches += found;
        }
        benchmark::DoNotOptimize(matches);
    }
}
BENCHMARK(BM_NaiveMissingWord)->Arg(threadCount)->Unit(benchmark::kMillisecond)->Repetitions(3);

void printAgainstNaive(const RatioReporter &reporter, const char *name) {
    const double naive = reporter.get("BM_NaiveMissingWord", threadCount);
    const double measured = reporter.get(name, threadCount);
    if (naive > 0 && measured > 0)
        std::printf("%-26s %9.3f ms  = %6.2f x the naive scan of one keystroke (%.3f ms)\n", name,
                    measured * 1e3, measured / naive, naive * 1e3);
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%d threads x %d events\n", threadCount, eventsPerThread);
    for (const char *name : {"BM_BuildIndex", "BM_TypeQuery", "BM_MissingWord", "BM_StreamWhileSearching"})
        printAgainstNaive(reporter, name);
    benchmark::Shutdown();
    return 0;
}
