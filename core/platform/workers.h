#pragma once

// Work spread over threads: the processors the process may use, and a run
// of numbered jobs taken in order by a few worker threads. Platform layer.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qx {

// The processors this process may run on (its affinity), at least 1.
int AvailableProcessors();

// Runs |job(i)| for every i below |count| on up to |threads| threads (0:
// one per available processor), each thread taking the next i not yet
// taken. A job fails by returning a text; once one has failed, no job not
// yet begun is begun. Returns the texts by i: empty for a job that
// succeeded or was never begun.
std::vector<std::string> RunJobs(size_t count, int threads,
                                 const std::function<std::string(size_t)>& job);

}  // namespace qx
