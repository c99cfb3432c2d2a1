// How late this machine wakes a thread from a 1 ms sleep: the floor under
// every keyed tone and silence, whatever the keyer does. Each sleep runs to an
// absolute deadline on the monotonic clock, and how far past it the thread
// runs again is kept.
//
// Usage: wakeup_latency [COUNT [FIFO_PRIORITY]]
// With FIFO_PRIORITY (1-99, needs the right to it) the thread runs under
// SCHED_FIFO, as a real-time thread.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

double Ms(std::int64_t ns) { return static_cast<double>(ns) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int priority = argc > 2 ? std::atoi(argv[2]) : 0;
  if (count <= 0) {
    std::fprintf(stderr, "usage: wakeup_latency [COUNT [FIFO_PRIORITY]]\n");
    return 2;
  }
  if (priority > 0) {
    sched_param param{};
    param.sched_priority = priority;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0) {
      std::perror("sched_setscheduler");
      return 1;
    }
  }
  std::vector<std::int64_t> late(static_cast<std::size_t>(count));
  std::int64_t deadline = NowNs();
  for (auto& l : late) {
    deadline += 1'000'000;
    const timespec until{static_cast<time_t>(deadline / 1'000'000'000),
                         static_cast<long>(deadline % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
    }
    const std::int64_t now = NowNs();
    l = now - deadline;
    deadline = now;
  }
  std::sort(late.begin(), late.end());
  auto at = [&](double q) { return late[static_cast<std::size_t>(q * (count - 1))]; };
  std::printf("%d sleeps of 1 ms%s: late by median %.3f ms, p99 %.3f ms, p99.9 %.3f ms, "
              "largest %.3f ms; over 1 ms: %ld\n",
              count, priority > 0 ? " (SCHED_FIFO)" : "", Ms(at(0.5)), Ms(at(0.99)),
              Ms(at(0.999)), Ms(late.back()),
              static_cast<long>(late.end() - std::upper_bound(late.begin(), late.end(),
                                                              std::int64_t{1'000'000})));
  return 0;
}
