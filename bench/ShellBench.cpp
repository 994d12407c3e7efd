// The shell window on a 10^3-turn conversation, and the choice of how canvas pages are drawn, measured on
// whatever platform Qt is given:
//
//     QT_QPA_PLATFORM=offscreen build/release/bench/ShellBench
//     xvfb-run -a -s "-screen 0 1440x900x24" build/release/bench/ShellBench
//
// The conversation: 1,000 turns, user prompts of one to three sentences and answers of two to twelve, laid
// out by the shell's own replay input (820 × 1060 pages, at most 500). Frames are rendered by the basic (GUI
// thread) render loop; a frame's time runs from the window's update request to its swap, so it holds polish,
// layout, drawing new pages and rendering, and not the wait for the next display refresh. Paging moves 45 %
// of the view at most once per 1/60 s, as a display would pace it.
// - PageRendererGeometry and PageRendererImages: the pages alone in a 900 × 860 window, drawn by the shell's
//   page item once as stroke geometry (what it uses on OpenGL) and once as page images drawn with QPainter
//   off the UI thread (what it uses on the software scene graph). Reported: first frame with the first page's
//   ink, then frame times while paging through every page (p50, p95, max), the frames that showed a page
//   still without its ink (image drawing that could not keep up), and the ink pixels of the first frame (a
//   renderer that drew nothing would look fast). Geometry needs a hardware scene graph: offscreen it is
//   skipped.
// - ShellWindow: the whole shell window (library, timeline, canvas, activity) at 1440 × 900, its symbols
//   drawn as plain discs (the application draws them from SVG files). The window is made ahead with no
//   conversation, as the application makes it while the conversation screen is idle (made_ahead_ms); the
//   time runs from the user's open: making the coordinator on the conversation (timeline and the first
//   pages' layout), giving it to the window and showing it, to the first frame that shows the first page's
//   ink (first_frame_ms, and of it the UI thread's processor time). Then the time until the whole
//   conversation is laid out (the rest comes in slices on the event loop); frame times while paging through
//   all pages; resident memory once open, after paging past N = 125 pages and 2N = 250 pages, and at the
//   end.

#include "DesktopBridgeActivityStore.h"
#include "DesktopCanvasReplayPageItem.h"
#include "DesktopCanvasReplayRole.h"
#include "DesktopLibraryReadModel.h"
#include "DesktopShellCoordinator.h"
#include "DesktopShellSelection.h"
#include "LocalHealthSource.h"

#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

Q_IMPORT_QML_PLUGIN(Rirudez_ShellPlugin)
Q_IMPORT_QML_PLUGIN(Rirudez_LocalModelsPlugin)

using namespace rirudez;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int turnCount = 1000;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Processor time the calling thread has used: what the UI thread spent, which a busy machine stretches less
// than the time on the clock.
double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size() - 1) + 0.5))];
}

// Runs an event loop until `condition` holds or the deadline passes. A real (nested) event loop, not
// processEvents() from main: objects the views delete later (list delegates scrolled away) are deleted only
// when an event loop runs.
bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds deadline = 10s) {
    if (condition())
        return true;
    const auto end = Clock::now() + deadline;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || Clock::now() > end)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
    return condition();
}

// A conversation of `count` turns: user prompts of one to three sentences, answers of two to twelve.
DesktopTimelineHistory longConversation(int count) {
    static const QStringList sentences = {
        u"The build fails on the second step because the cache directory is missing."_s,
        u"I looked at the log and the linker cannot find the shared library."_s,
        u"Let us move the configuration into one file and read it once at start-up."_s,
        u"The tests pass now, but the benchmark shows a slower first frame than before."_s,
        u"Could you write the migration so that nothing is lost when the old file is damaged?"_s,
        u"Here is the plan: read, convert, write atomically, and keep the original aside."_s,
    };
    QList<DesktopTimelineTurn> turns;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000);
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        const int sentenceCount = user ? 1 + (i / 2) % 3 : 2 + (i * 7) % 11;
        QStringList text;
        for (int s = 0; s < sentenceCount; ++s)
            text.append(sentences[(i + s) % sentences.size()]);
        DesktopTimelineTurn turn;
        turn.id = u"turn-%1"_s.arg(i);
        turn.role = user ? DesktopTimelineRole::user : DesktopTimelineRole::assistant;
        turn.content = text.join(u' ');
        turn.createdAt = start.addSecs(i * 30);
        if (!user && i % 10 == 1)
            turn.artifacts.append(
                {u"file-%1"_s.arg(i), DesktopTimelineArtifactKind::file, u"notes-%1.md"_s.arg(i)});
        turns.append(turn);
    }
    return DesktopTimelineHistory(std::move(turns));
}

// Stands in for the application's symbol images (drawn from SVG there): a tinted disc of the asked size.
class DiscImageProvider : public QQuickImageProvider {
public:
    DiscImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override {
        const QSize side = requestedSize.isValid() ? requestedSize : QSize(32, 32);
        QImage image(side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(u'#' + id.section(u'/', -1)));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(QPointF(0, 0), side).adjusted(2, 2, -2, -2));
        if (size)
            *size = side;
        return image;
    }
};

// Timestamps every frame of a window: its update request (the frame starts) and its swap (it is on screen).
class FrameClock : public QObject {
public:
    explicit FrameClock(QQuickWindow *window) : m_window(window) {
        window->installEventFilter(this);
        connect(window, &QQuickWindow::frameSwapped, this, [this] {
            if (m_requested) {
                m_frames.push_back(millisecondsBetween(*m_requested, Clock::now()));
                m_requested.reset();
            }
            ++m_swaps;
            m_lastSwap = Clock::now();
        });
    }
    int swaps() const { return m_swaps; }
    Clock::time_point lastSwap() const { return m_lastSwap; }
    std::vector<double> takeFrames() { return std::exchange(m_frames, {}); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_window && event->type() == QEvent::UpdateRequest && !m_requested)
            m_requested = Clock::now();
        return false;
    }

private:
    QQuickWindow *m_window;
    std::optional<Clock::time_point> m_requested;
    std::vector<double> m_frames;
    int m_swaps = 0;
    Clock::time_point m_lastSwap;
};

QQuickItem *findItem(QQuickItem *item, const QString &objectName) {
    if (!item)
        return nullptr;
    if (item->objectName() == objectName)
        return item;
    const auto children = item->childItems();
    for (QQuickItem *child : children)
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    return nullptr;
}

// Pixels of the window within a small distance of either role's ink (a renderer that drew nothing has none).
// The grab is taken two frames after the measured one: grabbed sooner, the software render loop gave back
// bare paper (0 ink pixels where the later grab has about 43,000).
int inkPixels(QQuickWindow *window) {
    QImage frame;
    for (int frames = 0; frames < 2; ++frames) {
        int swapped = 0;
        const auto counting =
            QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { ++swapped; });
        window->update();
        waitUntil([&] { return swapped > 0; });
        QObject::disconnect(counting);
        frame = window->grabWindow();
    }
    if (const QString path = qEnvironmentVariable("SHELLBENCH_GRAB"); !path.isEmpty())
        frame.save(path);
    int count = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QColor pixel = frame.pixelColor(x, y);
            for (const QColor ink :
                 {inkColor(DesktopCanvasReplayRole::user), inkColor(DesktopCanvasReplayRole::assistant)})
                if (std::abs(pixel.red() - ink.red()) + std::abs(pixel.green() - ink.green()) +
                        std::abs(pixel.blue() - ink.blue()) <=
                    24)
                    ++count;
        }
    return count;
}

// Pages through a ListView (flickable) from top to bottom, `step` of its height per frame, and returns each
// frame's time. Calls `atFraction` once at each quarter of the way.
std::vector<double> pageThrough(QQuickWindow *window, FrameClock &clock, QQuickItem *list, double step,
                                const std::function<void(int quarter)> &atQuarter = {},
                                int *framesWithoutInk = nullptr) {
    clock.takeFrames();
    // A frame that shows a page of the list without its ink yet.
    QMetaObject::Connection counting;
    if (framesWithoutInk)
        counting = QObject::connect(window, &QQuickWindow::frameSwapped, list, [list, framesWithoutInk] {
            const QRectF view(0, list->property("contentY").toDouble(), list->width(), list->height());
            for (QQuickItem *item : list->property("contentItem").value<QQuickItem *>()->childItems())
                for (QQuickItem *page : item->childItems())
                    if (auto *canvas = qobject_cast<DesktopCanvasReplayPageItem *>(page);
                        canvas && !canvas->isDrawn() &&
                        QRectF(item->position(), item->size()).intersects(view)) {
                        ++*framesWithoutInk;
                        return;
                    }
        });
    const double height = list->height();
    const double end = list->property("contentHeight").toDouble() - height;
    int quarter = 0;
    auto frameStart = Clock::now();
    for (double y = 0; y < end;) {
        // One step per display refresh (60 Hz), as a reader scrolling fast would see it.
        waitUntil([&] { return Clock::now() - frameStart >= 16667us; });
        frameStart = Clock::now();
        y = std::min(end, y + height * step);
        const int swaps = clock.swaps();
        list->setProperty("contentY", y);
        if (!waitUntil([&] { return clock.swaps() > swaps; }, 5s))
            break;
        while (atQuarter && quarter < 4 && y >= end * (quarter + 1) / 4.0)
            atQuarter(++quarter);
    }
    QObject::disconnect(counting);
    return clock.takeFrames();
}

void reportFrames(benchmark::State &state, const std::vector<double> &frames) {
    state.counters["frames"] = double(frames.size());
    state.counters["frame_p50_ms"] = percentile(frames, 0.50);
    state.counters["frame_p95_ms"] = percentile(frames, 0.95);
    state.counters["frame_max_ms"] = frames.empty() ? 0 : *std::max_element(frames.begin(), frames.end());
}

struct Conversation {
    DesktopTimelineHistory history = longConversation(turnCount);
};
const Conversation &conversation() {
    static const Conversation instance;
    return instance;
}

// The canvas pages alone, drawn one of the two ways.
void pageRenderer(benchmark::State &state, DesktopCanvasReplayPageItem::Drawing drawing) {
    for (auto _ : state) {
        DesktopCanvasReplayDocument document;
        const auto laidOutAt = Clock::now();
        document.layOut(DesktopShellCoordinator::replayInput(conversation().history));
        document.finishLayout();
        const double layoutMs = millisecondsBetween(laidOutAt, Clock::now());

        QQmlEngine engine;
        engine.addImportPath(u"qrc:/qt/qml"_s);
        QQmlComponent component(&engine);
        const QByteArray how =
            drawing == DesktopCanvasReplayPageItem::Drawing::StrokeGeometry ? "StrokeGeometry" : "PageImage";
        component.setData(
            "import QtQuick\nimport QtQuick.Window\nimport Rirudez.Shell\n"
            "Window { id: win; width: 900; height: 860; color: '#d6d6cf'\n"
            " property QtObject document\n"
            " ListView { id: pages; objectName: 'pages'; anchors.fill: parent; spacing: 18;\n"
            "  readonly property real pageScale: Math.min(1, (width - 48) / document.pageWidth)\n"
            "  cacheBuffer: Math.ceil(document.pageHeight * pageScale + spacing); model: document\n"
            "  delegate: Item { required property int index; width: pages.width;\n"
            "   height: document.pageHeight * pages.pageScale\n"
            "   DesktopCanvasReplayPageItem { objectName: 'page_' + index;\n"
            "   x: (pages.width - width) / 2; width: document.pageWidth * pages.pageScale;\n"
            "   height: parent.height; document: win.document; drawing: DesktopCanvasReplayPageItem." +
                how + "; pageIndex: index } } } }",
            QUrl(u"file:///bench/pages.qml"_s));
        if (!component.isReady()) {
            state.SkipWithError(qPrintable(component.errorString()));
            return;
        }
        const auto openedAt = Clock::now();
        std::unique_ptr<QObject> root(component.createWithInitialProperties(
            {{u"document"_s, QVariant::fromValue(static_cast<QObject *>(&document))}}));
        auto *window = qobject_cast<QQuickWindow *>(root.get());
        if (!window) {
            state.SkipWithError(qPrintable(component.errorString()));
            return;
        }
        FrameClock clock(window);
        window->show();
        auto firstPage = [&] {
            return qobject_cast<DesktopCanvasReplayPageItem *>(findItem(window->contentItem(), u"page_0"_s));
        };
        std::optional<Clock::time_point> firstFrame;
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
            if (!firstFrame && firstPage() && firstPage()->paintCount() > 0 && firstPage()->isDrawn())
                firstFrame = Clock::now();
        });
        if (!waitUntil([&] { return firstFrame.has_value(); })) {
            state.SkipWithError("no first frame");
            return;
        }
        const double firstFrameMs = millisecondsBetween(openedAt, *firstFrame);
        if (drawing == DesktopCanvasReplayPageItem::Drawing::StrokeGeometry &&
            window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software) {
            state.SkipWithError("the software scene graph does not draw geometry nodes (run under xvfb-run)");
            return;
        }
        QQuickItem *list = findItem(window->contentItem(), u"pages"_s);
        const int ink = inkPixels(window);

        int withoutInk = 0;
        const std::vector<double> frames = pageThrough(window, clock, list, 0.45, {}, &withoutInk);

        state.counters["pages"] = double(document.pageCount());
        state.counters["layout_ms"] = layoutMs;
        state.counters["first_frame_ms"] = firstFrameMs;
        state.counters["ink_px"] = ink;
        state.counters["frames_without_ink"] = withoutInk;
        reportFrames(state, frames);
        window->close();
    }
}

void BM_PageRendererGeometry(benchmark::State &state) {
    pageRenderer(state, DesktopCanvasReplayPageItem::Drawing::StrokeGeometry);
}
void BM_PageRendererImages(benchmark::State &state) {
    pageRenderer(state, DesktopCanvasReplayPageItem::Drawing::PageImage);
}

// The whole shell window on the conversation.
void BM_ShellWindow(benchmark::State &state) {
    for (auto _ : state) {
        const double rssBefore = residentMegabytes();
        DesktopBridgeActivityStore activity(QString(), 500);
        for (int i = 0; i < 200; ++i)
            activity.append({u"activity-%1"_s.arg(i), DesktopBridgeActivityKind(i % 5), u"Step %1"_s.arg(i),
                             u"demo"_s, u"claude"_s, std::nullopt,
                             QDateTime::fromSecsSinceEpoch(1'700'000'000 + i)});
        const QString conversationID = u"long-conversation"_s;
        auto library = std::make_shared<InMemoryDesktopLibraryReadModel>(
            QList<DesktopLibraryEntry>{{conversationID, u"A long conversation"_s,
                                        QDateTime::fromSecsSinceEpoch(1'700'030'000),
                                        DesktopLibraryBackendKind::legacy, u"demo"_s}},
            conversationID);
        const DesktopTimelineHistory &history = conversation().history;

        // Made ahead, as the application makes it once the conversation screen is up: the window with no
        // conversation yet.
        QQmlEngine engine;
        engine.addImportPath(u"qrc:/qt/qml"_s);
        engine.addImageProvider(u"symbol"_s, new DiscImageProvider);
        const auto madeAt = Clock::now();
        QQmlComponent component(&engine, QUrl(u"qrc:/qt/qml/Rirudez/Shell/DesktopShellWindow.qml"_s));
        if (!component.isReady()) {
            state.SkipWithError(qPrintable(component.errorString()));
            return;
        }
        std::unique_ptr<DesktopShellSelection> selection;
        std::unique_ptr<DesktopShellCoordinator> coordinator;
        std::unique_ptr<QObject> root(component.create());
        const double madeAheadMs = millisecondsBetween(madeAt, Clock::now());
        auto *window = qobject_cast<QQuickWindow *>(root.get());
        if (!window) {
            state.SkipWithError(qPrintable(component.errorString()));
            return;
        }
        window->resize(1440, 900);
        FrameClock clock(window);

        // The user opens the shell: the coordinator is made on the selected conversation (its timeline and
        // first pages laid out), bound to the window, and the window shown.
        const auto openedAt = Clock::now();
        const double openedCpu = threadCpuMilliseconds();
        selection = std::make_unique<DesktopShellSelection>(std::nullopt, std::nullopt, std::nullopt, true);
        coordinator = std::make_unique<DesktopShellCoordinator>(
            selection.get(), library,
            std::make_shared<ControlPlaneLocalHealthSource>(
                LocalHealthClient(std::make_shared<QNetworkAccessManager>())),
            &activity, [&history](const QString &) { return history; });
        coordinator->setConversationTitle(u"A long conversation"_s);
        coordinator->selectLibraryItem(conversationID);
        coordinator->librarySidebarViewModel()->requestReload();
        const double selectedMs = millisecondsBetween(openedAt, Clock::now());
        window->setProperty("coordinator", QVariant::fromValue(static_cast<QObject *>(coordinator.get())));
        const double boundMs = millisecondsBetween(openedAt, Clock::now());
        std::optional<Clock::time_point> anyFrame;
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
            if (!anyFrame)
                anyFrame = Clock::now();
        });
        window->show();
        auto firstPage = [&]() -> DesktopCanvasReplayPageItem * {
            return qobject_cast<DesktopCanvasReplayPageItem *>(
                findItem(window->contentItem(), u"canvasPage_0"_s));
        };
        // The first frame that shows the first page drawn.
        std::optional<Clock::time_point> firstFrame;
        double firstFrameCpu = 0;
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] {
            if (!firstFrame && firstPage() && firstPage()->paintCount() > 0) {
                firstFrame = Clock::now();
                firstFrameCpu = threadCpuMilliseconds() - openedCpu;
            }
        });
        if (!waitUntil([&] { return firstFrame.has_value(); })) {
            state.SkipWithError("the first page never showed");
            return;
        }
        const double firstFrameMs = millisecondsBetween(openedAt, *firstFrame);
        const DesktopCanvasReplayDocument *document = coordinator->canvasDocument();
        if (!waitUntil([&] { return !document->layingOut(); }, 60s)) {
            state.SkipWithError("the layout never finished");
            return;
        }
        const double layoutDoneMs = millisecondsBetween(openedAt, Clock::now());
        waitUntil([] { return false; }, 300ms); // let the window settle before measuring memory
        const double rssOpen = residentMegabytes();

        QQuickItem *pages = findItem(window->contentItem(), u"canvasPages"_s);
        double rssN = 0;  // after a quarter of the pages (N = 125)
        double rss2N = 0; // after half of them
        double rssPeak = rssOpen;
        int withoutInk = 0;
        const std::vector<double> frames = pageThrough(
            window, clock, pages, 0.45,
            [&](int quarter) {
                const double rss = residentMegabytes();
                rssPeak = std::max(rssPeak, rss);
                if (quarter == 1)
                    rssN = rss;
                if (quarter == 2)
                    rss2N = rss;
            },
            &withoutInk);
        const double rssEnd = residentMegabytes();

        state.counters["pages"] = double(coordinator->canvasReplayResult().pageCount);
        state.counters["turns"] = double(history.turnCount());
        state.counters["made_ahead_ms"] = madeAheadMs;
        state.counters["selected_ms"] = selectedMs; // coordinator, timeline and the first pages laid out
        state.counters["bound_ms"] = boundMs;       // the views given the conversation
        state.counters["first_swap_ms"] = millisecondsBetween(openedAt, *anyFrame);
        state.counters["first_frame_ms"] = firstFrameMs;
        state.counters["first_frame_ui_cpu_ms"] = firstFrameCpu; // of it, on the UI thread's processor
        state.counters["layout_done_ms"] = layoutDoneMs;
        state.counters["frames_without_ink"] = withoutInk;
        reportFrames(state, frames);
        state.counters["rss_before_MB"] = rssBefore;
        state.counters["rss_open_MB"] = rssOpen;
        state.counters["rss_N_pages_MB"] = rssN;
        state.counters["rss_2N_pages_MB"] = rss2N;
        state.counters["rss_end_MB"] = rssEnd;
        state.counters["rss_peak_MB"] = rssPeak;
        state.counters["rss_growth_N_to_2N_MB"] = rss2N - rssN;
        window->close();
    }
}

BENCHMARK(BM_PageRendererGeometry)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageRendererImages)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShellWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // One thread renders, so a frame's time is measured where it is spent.
    qputenv("QSG_RENDER_LOOP", "basic");
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
