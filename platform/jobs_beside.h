// Jobs that run beside the user-interface thread (WindowSystem::RunBeside), as
// the backends with threads keep them: each waits until the message loop
// first idles, then gets a thread of its own; Finish starts those still
// waiting and waits for every one. The backend supplies the threads.
#pragma once

#include <functional>
#include <vector>

namespace platform {

class JobsBeside {
 public:
  using Job = std::function<void()>;
  // Starts a thread that runs RunOwned(job) and returns a handle to wait
  // for it with, or null when no thread could be had (the job has not run).
  using StartThread = std::function<void*(Job* job)>;
  // Waits for a thread StartThread made, and lets its handle go.
  using JoinThread = std::function<void(void*)>;

  JobsBeside(StartThread start, JoinThread join);
  JobsBeside(const JobsBeside&) = delete;
  JobsBeside& operator=(const JobsBeside&) = delete;

  // Keeps the job until the loop first idles; starts it at once after that.
  void Add(Job job);
  // The message loop has had nothing to do for the first time: the jobs
  // waiting start.
  void LoopIdled();
  bool loopIdled() const { return loopIdled_; }
  // Starts the jobs still waiting and waits for every job.
  void Finish();

  // The body of each thread: runs the job and frees it.
  static void RunOwned(void* job);

 private:
  void StartWaiting();

  StartThread start_;
  JoinThread join_;
  std::vector<Job> waiting_;
  std::vector<void*> threads_;
  bool loopIdled_ = false;
};

}  // namespace platform
