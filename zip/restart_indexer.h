// amzip::RestartIndexer: builds the restart points (restart_index.h) of large deflated
// entries ahead of need, so the first range request far into such an entry does not
// inflate it from the start on the network thread.
//
// One background thread, at low priority, inflates the entries it is given one after the
// other, in the order given, through ordinary entry streams over the entries' shared
// indexes, and throws the output away. It stops early when the budget has no room for
// another window (no further point could be kept), after an entry fails to inflate (that
// entry only), and when the object is destroyed: the destructor asks the thread to stop
// and joins it; the thread notices within one read (64 KiB of output). It touches only
// what its jobs hold (sources, indexes, budget), all shared through utils::SharedPtr and
// safe to read from several threads, never the Archive that made it.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "zip/entry_stream.h"
#include "zip/restart_index.h"

namespace amzip {

class RestartIndexer {
 public:
  struct Job {
    EntryLocation where;
    utils::SharedPtr<RestartIndex> index;
  };
  // Starts the thread at once (none when jobs is empty).
  RestartIndexer(std::vector<Job> jobs, utils::SharedPtr<RestartBudget> budget);
  ~RestartIndexer();
  RestartIndexer(const RestartIndexer&) = delete;
  RestartIndexer& operator=(const RestartIndexer&) = delete;

  // True once the thread has gone through every job or stopped early.
  bool Finished() const { return finished_.load(); }

 private:
  void Run();

  std::vector<Job> jobs_;
  utils::SharedPtr<RestartBudget> budget_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace amzip
