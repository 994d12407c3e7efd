#pragma once

// Frames on one clock for a window drawn in software.
//
// Qt Quick's software render loop draws whenever something asks: an animation tick asks, and 5 ms later the
// platform's update timer draws; a text change asks on its own, and is drawn at its own time. Neither is tied
// to the other, so the frames of a window that animates while its content changes land at uneven times, and a
// draw that starts just before an animation tick delays that tick's frame. With a display's vertical sync the
// GL render loop has one clock; the software loop (offscreen, or a display without GL) has none.
//
// The pacer gives it one: a kernel timer ticks at fixed times, animations advance on the tick and the window
// draws right after them. A redraw asked for between two ticks waits for the next one. The first redraw after
// the clock stopped is drawn at once and starts the clock; the clock stops again once a few ticks pass with
// nothing to draw and no animation running.

#include <QAnimationDriver>
#include <QPointer>

#include <chrono>
#include <memory>

class QQuickWindow;
class QSocketNotifier;

namespace rirudez {

class FramePacer : public QAnimationDriver {
    Q_OBJECT
public:
    // Installs the pacer as this thread's animation driver and paces `window`, when the window is drawn in
    // software; returns nullptr otherwise (a GL or Vulkan render loop keeps its own clock).
    static std::unique_ptr<FramePacer> paceIfSoftware(QQuickWindow *window);

    explicit FramePacer(QQuickWindow *window);
    ~FramePacer() override;

    bool clockRunning() const { return m_clockRunning; }
    qint64 ticks() const { return m_ticks; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startClock();
    void stopClock();
    void tick();
    void draw();

    QPointer<QQuickWindow> m_window;
    // Qt's own animation timer runs at this interval too.
    static constexpr std::chrono::microseconds period{16000};
    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_clockRunning = false;
    bool m_redrawAsked = false; // a redraw asked for since the last tick
    bool m_drawing = false;     // the update request being delivered is the pacer's own
    int m_idleTicks = 0;
    qint64 m_ticks = 0;
};

} // namespace rirudez
