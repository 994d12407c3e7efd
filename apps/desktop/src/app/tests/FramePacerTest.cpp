// The frame clock of a window drawn in software (offscreen here): frames land on its ticks, one per tick at
// most, animations advance on it, the first redraw after a pause is drawn at once, and the clock stops when
// nothing moves. Time is never asserted: what is checked is which tick each swapped frame followed.

#include "FramePacer.h"

#include "QuickTestSupport.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

// A window with one rectangle and an animation of its x, shown offscreen and paced.
class FramePacerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QQmlComponent component(&m_engine);
        component.setData(R"(
            import QtQuick
            Window {
                width: 200; height: 120; visible: true
                property alias box: box
                property alias slide: slide
                Rectangle { id: box; width: 40; height: 40; color: "teal" }
                NumberAnimation { id: slide; target: box; property: "x"; from: 0; to: 150; duration: 150 }
            }
        )",
                          QUrl(u"qrc:/frame-pacer-test.qml"_s));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        ASSERT_TRUE(m_window) << component.errorString().toStdString();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_pacer = FramePacer::paceIfSoftware(m_window.get());
        ASSERT_TRUE(m_pacer) << "an offscreen window is drawn in software and paced";
        QObject::connect(m_window.get(), &QQuickWindow::frameSwapped, m_window.get(),
                         [this] { m_swapsAtTick.push_back(m_pacer ? m_pacer->ticks() : -1); });
        // Whatever showing the window asked for is drawn and the clock has stopped.
        ASSERT_TRUE(waitUntil([&] { return !m_pacer->clockRunning(); }));
        m_swapsAtTick.clear();
    }

    QQuickItem *box() const { return m_window->property("box").value<QQuickItem *>(); }
    QObject *slide() const { return m_window->property("slide").value<QObject *>(); }

    // Every swapped frame followed a different tick.
    static bool oneFramePerTick(const std::vector<qint64> &ticks) {
        for (std::size_t i = 1; i < ticks.size(); ++i)
            if (ticks[i] <= ticks[i - 1])
                return false;
        return true;
    }

    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<FramePacer> m_pacer;
    std::vector<qint64> m_swapsAtTick; // the pacer's tick count at each swapped frame
};

TEST_F(FramePacerTest, TheFirstRedrawIsDrawnAtOnceAndTheRestOnTicksOneFramePerTick) {
    const qint64 pausedAt = m_pacer->ticks();
    box()->setProperty("color", QColor(Qt::red));
    ASSERT_TRUE(waitUntil([&] { return !m_swapsAtTick.empty(); }));
    EXPECT_EQ(m_swapsAtTick.front(), pausedAt) << "the first redraw after a pause waited for a tick";

    // An animation keeps the clock running; changes asked for between two ticks are drawn on the next tick
    // with the animation's step, never in a frame of their own.
    QMetaObject::invokeMethod(slide(), "start");
    for (const QColor colour : {QColor(Qt::green), QColor(Qt::blue), QColor(Qt::yellow)}) {
        box()->setProperty("color", colour);
        QTest::qWait(7);
    }
    ASSERT_TRUE(waitUntil([&] { return !slide()->property("running").toBool(); }));
    EXPECT_DOUBLE_EQ(box()->x(), 150);
    // 150 ms of animation: several frames, each after a tick of its own.
    EXPECT_GE(m_swapsAtTick.size(), 5u);
    EXPECT_TRUE(oneFramePerTick(m_swapsAtTick));

    ASSERT_TRUE(waitUntil([&] { return !m_pacer->clockRunning(); }))
        << "the clock runs on with nothing to draw";
    const qint64 stoppedAt = m_pacer->ticks();
    QTest::qWait(100);
    EXPECT_EQ(m_pacer->ticks(), stoppedAt);
}

TEST_F(FramePacerTest, AnimationsGoOnWhenThePacerOrItsWindowGoes) {
    // The pacer gives up the animations while one runs: Qt's own timer finishes it.
    QMetaObject::invokeMethod(slide(), "start");
    ASSERT_TRUE(waitUntil([&] { return m_pacer->ticks() >= 2; }));
    m_pacer.reset();
    ASSERT_TRUE(waitUntil([&] { return !slide()->property("running").toBool(); }));
    EXPECT_DOUBLE_EQ(box()->x(), 150);

    // A pacer whose window is gone stops its clock and draws nothing.
    m_pacer = FramePacer::paceIfSoftware(m_window.get());
    ASSERT_TRUE(m_pacer);
    QMetaObject::invokeMethod(slide(), "start");
    ASSERT_TRUE(waitUntil([&] { return m_pacer->clockRunning(); }));
    m_window.reset();
    EXPECT_TRUE(waitUntil([&] { return !m_pacer->clockRunning(); }));
}

} // namespace
