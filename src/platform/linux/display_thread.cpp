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

  const int socket = xcb_get_file_descriptor(connection);
  while (!stopping_) {
    if (!armedUntil_) {
      changed_.wait(lock, [&] { return stopping_ || armedUntil_.has_value(); });
      continue;
    }
    const std::uint64_t arming = arming_;
    if (changed_.wait_until(lock, steadyTime(*armedUntil_),
                            [&] { return stopping_ || arming_ != arming; })) {
      continue;
    }
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
  changed_.notify_all();
}

bool DisplayThread::disarm() {
  const std::lock_guard lock(mutex_);
  armedUntil_.reset();
  ++arming_;
  changed_.notify_all();
  return fired_;
}

void DisplayThread::stop() {
  const std::lock_guard lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

}  // namespace nevo::lin
