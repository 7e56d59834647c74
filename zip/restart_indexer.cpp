#include "zip/restart_indexer.h"

#include <memory>

#include "zip/platform.h"

namespace amzip {

namespace {
constexpr uint32_t kChunk = 65536;  // output per read: how soon a stop request is seen
constexpr uint64_t kWindow = 32768;  // the most one point takes from the budget
}  // namespace

RestartIndexer::RestartIndexer(std::vector<Job> jobs, utils::SharedPtr<RestartBudget> budget)
    : jobs_(std::move(jobs)), budget_(std::move(budget)) {
  if (jobs_.empty() || !budget_) {
    finished_ = true;
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

RestartIndexer::~RestartIndexer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void RestartIndexer::Run() {
  LowerThreadPriority();
  std::unique_ptr<uint8_t[]> sink(new uint8_t[kChunk]);
  for (Job& job : jobs_) {
    EntryStream stream(job.where, job.index);
    for (;;) {
      if (stop_ || budget_->Left() < kWindow) {
        finished_ = true;
        return;
      }
      uint32_t got = 0;
      if (!stream.Read(sink.get(), kChunk, got) || got == 0) break;
    }
  }
  finished_ = true;
}

}  // namespace amzip
