#include "migrate/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vm {
namespace {

// Items held on a gate: busy() counts queued and running ones, WaitForOne
// returns only after one finished, and the destructor runs what is queued.
TEST(WorkerPoolTest, CountsWaitsAndDrainsOnDestruction) {
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::atomic<int> done{0};
  {
    WorkerPool pool(2);
    for (int i = 0; i < 5; ++i) {
      pool.Submit([&done, open] {
        open.wait();
        ++done;
      });
    }
    EXPECT_EQ(pool.busy(), 5u);
    auto waiting = std::async(std::launch::async, [&] { pool.WaitForOne(); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)),
              std::future_status::timeout);
    gate.set_value();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
    EXPECT_GE(done.load(), 1);
  }
  EXPECT_EQ(done.load(), 5);
  WorkerPool idle(1);
  idle.WaitForOne();  // nothing queued: returns at once
  EXPECT_EQ(idle.busy(), 0u);
}

}  // namespace
}  // namespace vm
