#include "net/ThreadTimer.h"

#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ThreadTimer, FiresEveryIntervalOnlyWhileEnabledWithAnIntervalAndAHandler)
{
    TThreadTimer timer;
    int fired = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](QObject *sender) {
        EXPECT_EQ(sender, &timer);
        ++fired;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }));

    const auto expectSilent = [&](const char *why) {
        SCOPED_TRACE(why);
        const int before = fired;
        QTest::qWait(60);
        EXPECT_EQ(fired, before);
    };
    timer.SetEnabled(false);
    expectSilent("disabled");
    timer.SetInterval(0);
    timer.SetEnabled(true);
    expectSilent("interval 0");
    timer.SetOnTimer({});
    timer.SetInterval(10);
    expectSilent("no handler");
}

TEST(ThreadTimer, AnExceptionFromTheHandlerGoesToTheMessageBox)
{
    ShownMessageBoxes().clear();
    TThreadTimer timer;
    timer.SetInterval(10);
    timer.SetOnTimer([&](QObject *) {
        timer.SetEnabled(false);
        throw Exception("the handler failed");
    });
    ASSERT_TRUE(QTest::qWaitFor([] { return !ShownMessageBoxes().empty(); }));
    EXPECT_EQ(ShownMessageBoxes().front().first, "the handler failed");
}

// A connection thread switches its instance's timer on; it runs on its own.
TEST(ThreadTimer, EnabledFromAnotherThreadFiresOnItsOwn)
{
    TThreadTimer timer;
    timer.SetEnabled(false);
    timer.SetInterval(10);
    QThread *firedOn = nullptr;
    timer.SetOnTimer([&](QObject *) {
        firedOn = QThread::currentThread();
        timer.SetEnabled(false);
    });
    std::thread([&] { timer.SetEnabled(true); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return firedOn != nullptr; }));
    EXPECT_EQ(firedOn, timer.thread());
}

} // namespace
