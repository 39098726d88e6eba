#include "core/replyReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/jobContext.h"

namespace {

// Longest single wait for the printer: a cancel is noticed between waits.
constexpr long long readSliceMs = 20;

void dropPending(JobContext& job, std::size_t count)
{
    std::memmove(job.pendingReply, job.pendingReply + count, job.pendingCount - count);
    job.pendingCount -= count;
}

// Lines the pending bytes up on a reply: bytes before the 10 04 04 leader are
// stray and dropped. A 10 with another leader stays in front (a reply with a
// wrong leader, which the callers log as such).
void resynchronise(JobContext& job)
{
    const unsigned char* p = job.pendingReply;
    const std::size_t count = job.pendingCount;
    std::size_t start = 0;
    while (start < count) {
        if (p[start] == 0x10) {
            const bool leader = (start + 1 >= count || p[start + 1] == 0x04) && (start + 2 >= count || p[start + 2] == 0x04);
            if (leader || start == 0) {
                break;
            }
        }
        ++start;
    }
    if (start > 0) {
        job.log(LogLevel::Debug, "Discarded %zu stray reply bytes.", start);
        dropPending(job, start);
    }
    // A 10 without its 04 04 is taken as a whole reply only once the leader
    // of a later reply does not start inside it.
    if (job.pendingCount >= 3 && !(p[1] == 0x04 && p[2] == 0x04)) {
        for (std::size_t i = 1; i + 2 < job.pendingCount && i < 5; ++i) {
            if (p[i] == 0x10 && p[i + 1] == 0x04 && p[i + 2] == 0x04) {
                job.log(LogLevel::Debug, "Discarded %zu stray reply bytes.", i);
                dropPending(job, i);
                break;
            }
        }
    }
}

}  // namespace

long readReply(JobContext& job, unsigned char* buffer, std::size_t length, double periods)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(job.waits.periodsToMs(periods));
    for (;;) {
        resynchronise(job);
        if (job.pendingCount >= length) {
            std::memcpy(buffer, job.pendingReply, length);
            dropPending(job, length);
            return static_cast<long>(length);
        }
        const long long leftMs =
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        const long long slice = std::min(leftMs, readSliceMs);
        const long count = job.device().read(
            {job.pendingReply + job.pendingCount, sizeof job.pendingReply - job.pendingCount}, static_cast<int>(slice));
        if (count < 0) {
            return -1;
        }
        if (count == 0) {
            if (leftMs <= slice || job.cancelled()) {
                return 0;
            }
            continue;
        }
        job.pendingCount += static_cast<std::size_t>(count);
    }
}

long drainReplies(JobContext& job)
{
    long total = static_cast<long>(job.pendingCount);
    job.pendingCount = 0;
    unsigned char scrap[64];
    for (;;) {
        const long count = job.device().read(scrap, 0);
        if (count <= 0) {
            return total;
        }
        total += count;
    }
}
