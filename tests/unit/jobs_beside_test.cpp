// Jobs beside the user-interface thread, on real threads: none starts
// before the loop first idles, each runs once on a thread of its own,
// Finish waits for all, and without threads they still all run, in order.
#include "platform/jobs_beside.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::JobsBeside;

struct Threads {
  std::atomic<int> started{0};
  std::atomic<int> joined{0};
  bool refuse = false;

  JobsBeside Make() {
    return JobsBeside(
        [this](JobsBeside::Job* job) -> void* {
          if (refuse) return nullptr;
          ++started;
          return new std::thread(&JobsBeside::RunOwned, job);
        },
        [this](void* handle) {
          auto* thread = static_cast<std::thread*>(handle);
          thread->join();
          delete thread;
          ++joined;
        });
  }
};

TEST(JobsBesideTest, NothingStartsBeforeTheLoopIdlesThenEachRunsOnAThreadOfItsOwn) {
  Threads threads;
  JobsBeside jobs = threads.Make();
  std::mutex mutex;
  std::vector<std::thread::id> ranOn;
  auto job = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::lock_guard<std::mutex> lock(mutex);
    ranOn.push_back(std::this_thread::get_id());
  };
  jobs.Add(job);
  jobs.Add(job);
  EXPECT_EQ(threads.started, 0);
  EXPECT_FALSE(jobs.loopIdled());

  jobs.LoopIdled();
  EXPECT_EQ(threads.started, 2);
  jobs.Add(job);  // after the first idle: at once
  EXPECT_EQ(threads.started, 3);

  jobs.Finish();
  EXPECT_EQ(threads.joined, 3);
  ASSERT_EQ(ranOn.size(), 3U);
  for (const std::thread::id& id : ranOn) EXPECT_NE(id, std::this_thread::get_id());
}

// A program that ends before its loop ever idled (a second instance)
// still runs what it asked for, and Finish returns only once it has.
TEST(JobsBesideTest, FinishBeforeAnyIdleStartsTheWaitingJobsAndWaitsForThem) {
  Threads threads;
  JobsBeside jobs = threads.Make();
  std::atomic<bool> done{false};
  jobs.Add([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = true;
  });
  jobs.Finish();
  EXPECT_TRUE(done);
  EXPECT_EQ(threads.joined, 1);
  jobs.Finish();  // nothing left: no second join
  EXPECT_EQ(threads.joined, 1);
}

TEST(JobsBesideTest, WithoutThreadsEveryJobRunsHereInOrder) {
  Threads threads;
  threads.refuse = true;
  JobsBeside jobs = threads.Make();
  std::vector<std::string> log;
  jobs.Add([&] { log.push_back("components"); });
  jobs.Add([&] { log.push_back("second"); });
  EXPECT_TRUE(log.empty());
  jobs.LoopIdled();
  EXPECT_EQ(log, (std::vector<std::string>{"components", "second"}));
  jobs.Finish();
  EXPECT_EQ(threads.joined, 0);
}

}  // namespace
