// Reading the printer's replies: framed on the reply's 10 04 04 leader
// across reads, with stray bytes dropped, for the monitor and the copies
// alike. Called with the job's channel lock held.
#pragma once

#include <cstddef>

class JobContext;

// One reply of `length` bytes, gathered across reads within `periods` wait
// periods (0: only what is there already). The byte count, 0 when nothing
// (or too little) came in time, -1 when the printer has no way to answer.
// An incomplete reply at the limit stays pending for the next read.
long readReply(JobContext& job, unsigned char* buffer, std::size_t length, double periods);

// Throws away the replies pending and waiting now; returns their byte count.
long drainReplies(JobContext& job);
