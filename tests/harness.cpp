#include "tests/harness.h"

#include <thread>

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

bool has_update(const inkplay_run& run, int x1, int y1, int x2, int y2, size_t from) {
  std::vector<logged_update> u = run.updates();
  for (size_t i = from; i < u.size(); ++i)
    if (u[i].x1 == x1 && u[i].y1 == y1 && u[i].x2 == x2 && u[i].y2 == y2) return true;
  return false;
}
