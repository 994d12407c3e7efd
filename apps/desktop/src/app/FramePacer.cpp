#include "FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace rirudez {

namespace {

Q_LOGGING_CATEGORY(lcFramePacer, "rirudez.desktop.frames")

// Ticks with nothing to draw and no animation before the clock stops.
constexpr int idleTicksBeforeStop = 3;

timespec toTimespec(std::chrono::microseconds duration) {
    return timespec{static_cast<time_t>(duration.count() / 1'000'000),
                    static_cast<long>(duration.count() % 1'000'000 * 1000)};
}

} // namespace

std::unique_ptr<FramePacer> FramePacer::paceIfSoftware(QQuickWindow *window) {
    if (!window || !window->rendererInterface() ||
        window->rendererInterface()->graphicsApi() != QSGRendererInterface::Software)
        return nullptr;
    auto pacer = std::make_unique<FramePacer>(window);
    if (pacer->m_timerFd < 0)
        return nullptr;
    pacer->install();
    return pacer;
}

FramePacer::FramePacer(QQuickWindow *window) : m_window(window) {
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0) {
        qCWarning(lcFramePacer) << "no frame clock: timerfd_create failed:" << qt_error_string(errno);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
    m_notifier->setEnabled(false);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &FramePacer::tick);
    // An animation started between two draws advances on the next tick.
    connect(this, &QAnimationDriver::started, this, &FramePacer::startClock);
    if (window)
        window->installEventFilter(this);
}

FramePacer::~FramePacer() {
    if (m_window)
        m_window->removeEventFilter(this);
    m_notifier.reset();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

bool FramePacer::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::UpdateRequest || watched != m_window || m_drawing || m_timerFd < 0)
        return QAnimationDriver::eventFilter(watched, event);
    if (!m_clockRunning) {
        // The first redraw after a pause is drawn at once; the clock starts from it.
        startClock();
        return false;
    }
    m_redrawAsked = true;
    return true;
}

void FramePacer::startClock() {
    if (m_clockRunning || m_timerFd < 0)
        return;
    // A periodic kernel timer: its expirations stay on the grid of the first one, however late one is read.
    const itimerspec spec{toTimespec(period), toTimespec(period)};
    if (::timerfd_settime(m_timerFd, 0, &spec, nullptr) != 0) {
        qCWarning(lcFramePacer) << "frame clock not started:" << qt_error_string(errno);
        return;
    }
    m_clockRunning = true;
    m_idleTicks = 0;
    m_notifier->setEnabled(true);
}

void FramePacer::stopClock() {
    if (!m_clockRunning)
        return;
    const itimerspec stopped{};
    ::timerfd_settime(m_timerFd, 0, &stopped, nullptr);
    m_clockRunning = false;
    m_notifier->setEnabled(false);
}

void FramePacer::tick() {
    std::uint64_t expirations = 0;
    if (::read(m_timerFd, &expirations, sizeof expirations) != sizeof expirations)
        return; // read before it expired again (the notifier fired twice): nothing to do
    if (!m_window) {
        stopClock();
        return;
    }
    ++m_ticks;
    const bool animating = isRunning();
    if (animating)
        advance();
    if (m_redrawAsked || animating) {
        m_idleTicks = 0;
        draw();
    } else if (++m_idleTicks >= idleTicksBeforeStop) {
        stopClock();
    }
}

void FramePacer::draw() {
    m_redrawAsked = false;
    m_drawing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
    m_drawing = false;
}

} // namespace rirudez
