#include "platform/linux/display_thread.h"

#include <sys/socket.h>

#include <chrono>
#include <system_error>
#include <thread>

namespace nevo::lin {
namespace {

std::chrono::steady_clock::time_point steadyTime(double seconds) {
  using namespace std::chrono;
  return steady_clock::time_point(duration_cast<steady_clock::duration>(duration<double>(seconds)));
}

}  // namespace

std::shared_ptr<DisplayThread> DisplayThread::start(std::string display) {
  auto thread = std::make_shared<DisplayThread>();
  try {
    // The thread holds its own reference: it may outlive everyone else's.
    std::thread([thread, display = std::move(display)] { thread->run(display); }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return thread;
}

void DisplayThread::run(const std::string& display) {
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
  std::unique_lock lock(mutex_);
  if (abandoned_) {
    lock.unlock();
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  screen_ = screen;
  made_ = true;
  changed_.notify_all();

  // Exchanges take a millisecond or so, their deadlines a quarter of a second: the thread
  // is not woken for each one. It sleeps until the deadline it knows of and then looks at
  // what is armed by then; only an earlier deadline than the one it sleeps for wakes it.
  const int socket = xcb_get_file_descriptor(connection);
  while (!stopping_) {
    if (!armedUntil_) {
      changed_.wait(lock, [&] { return stopping_ || armedUntil_.has_value(); });
      continue;
    }
    const double until = *armedUntil_;
    const std::uint64_t arming = arming_;
    sleepingUntil_ = until;
    const bool woken = changed_.wait_until(lock, steadyTime(until), [&] {
      return stopping_ || (armedUntil_ && *armedUntil_ < until);
    });
    sleepingUntil_.reset();
    if (woken || arming_ != arming || !armedUntil_) continue;
    // Still the same exchange, and its time is up.
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
    fired_ = true;
    armedUntil_.reset();
  }
}

xcb_connection_t* DisplayThread::connection(double deadline, int& screen) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_until(lock, steadyTime(deadline), [&] { return made_; })) {
    abandoned_ = true;
    return nullptr;
  }
  screen = screen_;
  return connection_;
}

void DisplayThread::arm(double deadline) {
  const std::lock_guard lock(mutex_);
  armedUntil_ = deadline;
  ++arming_;
  // Asleep with nothing armed, or until a later time: it must look now.
  if (!sleepingUntil_ || deadline < *sleepingUntil_) changed_.notify_all();
}

bool DisplayThread::disarm() {
  const std::lock_guard lock(mutex_);
  armedUntil_.reset();
  ++arming_;
  return fired_;
}

void DisplayThread::stop() {
  // Not woken: once it looks, at the latest at the deadline it sleeps for, it sees this
  // and ends without touching the socket.
  const std::lock_guard lock(mutex_);
  stopping_ = true;
}

}  // namespace nevo::lin
