// One command at a time: the operation queue on its own.
#include "platform/operation_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qb {
namespace {

TEST(OperationQueue, WorkSubmittedWhileOneRunsWaitsAndRunsInOrder) {
  TOperationQueue queue;
  std::vector<std::string> log;
  std::vector<size_t> waiting;
  queue.OnWaitingChanged = [&](size_t n) { waiting.push_back(n); };
  const bool ran =
      queue.Submit({"outer", [&] {
                      log.push_back("outer begins");
                      EXPECT_TRUE(queue.Busy());
                      // Submitted from inside, as a message handled during the work.
                      EXPECT_FALSE(queue.Submit({"a", [&] {
                                                   log.push_back("a");
                                                   queue.Submit({"c", [&] { log.push_back("c"); }});
                                                 }}));
                      EXPECT_FALSE(queue.Submit({"b", [&] { log.push_back("b"); }}));
                      EXPECT_EQ(queue.Waiting(), 2u);
                      log.push_back("outer ends");
                    }});
  EXPECT_TRUE(ran);
  EXPECT_EQ(log, (std::vector<std::string>{"outer begins", "outer ends", "a", "b", "c"}));
  EXPECT_FALSE(queue.Busy());
  EXPECT_EQ(queue.Waiting(), 0u);
  ASSERT_FALSE(waiting.empty());
  EXPECT_EQ(waiting.back(), 0u);  // the "Busy..." of the host goes away
}

TEST(OperationQueue, AFailedOperationIsReportedAndTheNextOneStillRuns) {
  TOperationQueue queue;
  std::vector<std::string> log;
  queue.ReportError = [&](const std::exception& e) { log.push_back(std::string("error: ") + e.what()); };
  queue.Submit({"outer", [&] {
                  queue.Submit({"fails", [] { throw std::runtime_error("disk full"); }});
                  queue.Submit({"throws anything", [] { throw 42; }});
                  queue.Submit({"next", [&] { log.push_back("next"); }});
                  throw std::runtime_error("outer failed");
                }});
  EXPECT_EQ(log, (std::vector<std::string>{"error: outer failed", "error: disk full",
                                           "error: An unexpected error occurred", "next"}));
  EXPECT_FALSE(queue.Busy());
  // Nothing jammed: the next one runs at once.
  EXPECT_TRUE(queue.Submit({"later", [&] { log.push_back("later"); }}));
  EXPECT_EQ(log.back(), "later");
}

struct ECabinetHeld : std::runtime_error {
  ECabinetHeld() : std::runtime_error("The File Cabinet is in use by another program") {}
};

TEST(OperationQueue, AStoreMeetingAHeldCabinetIsRetriedAndKeepsItsPlace) {
  TOperationQueue queue;
  std::vector<std::string> log;
  std::vector<std::function<void()>> timers;
  queue.ReportError = [&](const std::exception& e) { log.push_back(std::string("error: ") + e.what()); };
  queue.IsCabinetBusy = [](const std::exception& e) {
    return dynamic_cast<const ECabinetHeld*>(&e) != nullptr;
  };
  queue.ScheduleRetry = [&](int delay_ms, std::function<void()> resume) {
    EXPECT_EQ(delay_ms, TOperationQueue::kRetryDelayMs);
    timers.push_back(std::move(resume));
  };
  int held_for = 2;
  queue.Submit({"store",
                [&] {
                  if (held_for-- > 0) throw ECabinetHeld();
                  log.push_back("stored");
                },
                /*RetryWhenCabinetBusy=*/true});
  // Held: it waits for its retry, and what comes next waits behind it.
  EXPECT_TRUE(queue.Busy());
  EXPECT_FALSE(queue.Submit({"delete", [&] { log.push_back("deleted"); }}));
  ASSERT_EQ(timers.size(), 1u);
  auto fire = [&] {
    auto resume = std::move(timers.front());
    timers.erase(timers.begin());
    resume();
  };
  fire();
  ASSERT_EQ(timers.size(), 1u);  // still held
  EXPECT_TRUE(log.empty());
  fire();
  EXPECT_EQ(log, (std::vector<std::string>{"stored", "deleted"}));
  EXPECT_FALSE(queue.Busy());

  // An operation not marked for retry, and one held for too long, report the error.
  log.clear();
  queue.Submit({"rename", [] { throw ECabinetHeld(); }});
  EXPECT_TRUE(timers.empty());
  queue.Submit({"store", [] { throw ECabinetHeld(); }, true});
  for (int k = 0; k < TOperationQueue::kMaxRetries; ++k) fire();
  EXPECT_TRUE(timers.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"error: The File Cabinet is in use by another program",
                                           "error: The File Cabinet is in use by another program"}));
  EXPECT_FALSE(queue.Busy());
}

}  // namespace
}  // namespace qb
