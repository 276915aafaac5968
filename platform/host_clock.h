// The player's clocks: a millisecond tick count and a high-resolution counter. Headless runs
// and tests switch to a virtual clock that moves only when told, so runs are repeatable.
#pragma once
#include <cstdint>

namespace brova::platform {

// Milliseconds since the clock was first read (or the virtual time).
uint64_t TicksMs();

// A counter of PerformanceFrequency() units per second; the virtual mode honours it too.
uint64_t PerformanceCounter();
uint64_t PerformanceFrequency();

// Switching the virtual clock on starts it at the current real time, so readings never
// run backwards at the switch.
void SetVirtualClock(bool on);
bool IsVirtualClock();

// Moves the virtual clock forward; nothing happens while the real clock is in use.
void AdvanceVirtualClock(uint64_t ms);

// Waits on the real clock; returns at once under the virtual clock.
void SleepMs(uint32_t ms);

} // namespace brova::platform
