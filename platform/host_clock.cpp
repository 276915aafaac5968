#include "platform/host_clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace brova::platform {
namespace {

constexpr uint64_t kNsPerSecond = 1000000000;
constexpr uint64_t kNsPerMs = 1000000;

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * kNsPerSecond + static_cast<uint64_t>(ts.tv_nsec);
}

// The epoch is the first reading, so ticks start near 0 like a fresh tick count.
uint64_t EpochNs() {
  static const uint64_t epoch = MonotonicNs();
  return epoch;
}

std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtualNs{0};

uint64_t RealNs() {
  uint64_t epoch = EpochNs(); // read first: the first call sets it
  return MonotonicNs() - epoch;
}

uint64_t NowNs() {
  if (g_virtual.load(std::memory_order_relaxed)) return g_virtualNs.load(std::memory_order_relaxed);
  return RealNs();
}

} // namespace

uint64_t TicksMs() { return NowNs() / kNsPerMs; }

uint64_t PerformanceCounter() { return NowNs(); }

uint64_t PerformanceFrequency() { return kNsPerSecond; }

void SetVirtualClock(bool on) {
  if (on == g_virtual.load()) return;
  if (on) g_virtualNs.store(RealNs());
  g_virtual.store(on);
}

bool IsVirtualClock() { return g_virtual.load(); }

void AdvanceVirtualClock(uint64_t ms) {
  if (g_virtual.load()) g_virtualNs.fetch_add(ms * kNsPerMs);
}

void SleepMs(uint32_t ms) {
  if (g_virtual.load() || ms == 0) return;
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

} // namespace brova::platform
