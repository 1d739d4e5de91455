#include <gtest/gtest.h>

#include <thread>

#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

TEST(NotificationCenter, DeliversByNameAndSenderInOrder) {
    auto center = NotificationCenter::create();
    std::vector<std::string> order;
    const int senderA = 0, senderB = 0;
    auto any = center->addObserver("n", nullptr, [&](const Notification& n) {
        order.push_back(n.sender == &senderA ? "any A" : n.sender == &senderB ? "any B" : "?");
    });
    auto onlyA =
        center->addObserver("n", &senderA, [&](const Notification&) { order.push_back("onlyA"); });
    auto other =
        center->addObserver("m", nullptr, [&](const Notification&) { order.push_back("m"); });
    center->post("n", &senderA);
    center->post("n", &senderB);
    EXPECT_EQ(order, (std::vector<std::string>{"any A", "onlyA", "any B"}));
}

TEST(NotificationCenter, ObserversRemovedOnDestructionEvenDuringDelivery) {
    auto center = NotificationCenter::create();
    int second = 0, late = 0;
    NotificationObserver secondObserver;
    NotificationObserver lateObserver;
    auto first = center->addObserver("n", nullptr, [&](const Notification&) {
        secondObserver.reset();  // removed during delivery: must not be called
        if (!lateObserver) {
            lateObserver = center->addObserver("n", nullptr, [&](const Notification&) { ++late; });
        }
    });
    secondObserver = center->addObserver("n", nullptr, [&](const Notification&) { ++second; });
    center->post("n", nullptr);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(late, 0);  // registered during delivery: only later posts
    center->post("n", nullptr);
    EXPECT_EQ(late, 1);
    {
        auto scoped = center->addObserver("n", nullptr, [](const Notification&) {});
        EXPECT_EQ(center->observerCountForTesting(), 3u);
    }
    EXPECT_EQ(center->observerCountForTesting(), 2u);
    // An observer that outlives its centre is harmless.
    auto orphan = center->addObserver("x", nullptr, [](const Notification&) {});
    center.reset();
    orphan.reset();
}

TEST(NotificationCenter, PostFromAnotherThreadArrivesOnTheMainThread) {
    auto center = NotificationCenter::create();
    std::vector<bool> onMain;
    auto observer = center->addObserver(
        "n", nullptr, [&](const Notification&) { onMain.push_back(MainThread::isMainThread()); });
    test::LogCapture capture;
    std::thread([&] { center->post("n", nullptr); }).join();
    EXPECT_TRUE(onMain.empty());
    MainThread::drainForTesting();
    EXPECT_EQ(onMain, std::vector<bool>{true});
}

}  // namespace
}  // namespace larkspin
