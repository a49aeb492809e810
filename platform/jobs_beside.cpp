#include "platform/jobs_beside.h"

#include <memory>
#include <utility>

namespace platform {

JobsBeside::JobsBeside(StartThread start, JoinThread join)
    : start_(std::move(start)), join_(std::move(join)) {}

void JobsBeside::Add(Job job) {
  waiting_.push_back(std::move(job));
  if (loopIdled_) StartWaiting();
}

void JobsBeside::LoopIdled() {
  loopIdled_ = true;
  StartWaiting();
}

void JobsBeside::Finish() {
  StartWaiting();
  std::vector<void*> threads = std::move(threads_);
  threads_.clear();
  for (void* thread : threads) join_(thread);
}

void JobsBeside::RunOwned(void* job) {
  const std::unique_ptr<Job> owned(static_cast<Job*>(job));
  (*owned)();
}

void JobsBeside::StartWaiting() {
  std::vector<Job> jobs = std::move(waiting_);
  waiting_.clear();
  for (Job& job : jobs) {
    auto owned = std::make_unique<Job>(std::move(job));
    void* thread = start_(owned.get());
    if (thread == nullptr) {
      (*owned)();  // no thread to be had: the job runs here and now
      continue;
    }
    owned.release();  // the thread owns it now
    threads_.push_back(thread);
  }
}

}  // namespace platform
