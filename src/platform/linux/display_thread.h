// The X11 connection's own thread, which bounds what xcb cannot: xcb_connect waits for the
// server's answer to the connection setup without end, and xcb reads the rest of a reply
// that has come in part, or writes what the server does not take, with waits of its own,
// also without end (a server stopped, or held by another client's server grab, in the
// middle of a reply). The thread connects, and then, for as long as the connection is
// used, shuts its socket down when an exchange outlives its deadline: that wakes whatever
// xcb waits in, and leaves the connection failed.
#pragma once

#include <xcb/xcb.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace nevo::lin {

class DisplayThread {
 public:
  // Starts connecting to `display`; null when no thread can be had.
  static std::shared_ptr<DisplayThread> start(std::string display);

  // The connection, once made by `deadline` (seconds on the monotonic clock), with its
  // screen; null when it was not (the thread then closes it, if it is ever made).
  xcb_connection_t* connection(double deadline, int& screen);

  // From now until disarm(), the connection's socket is shut down at `deadline`.
  void arm(double deadline);
  // True when the deadline passed while armed (the connection is then failed).
  bool disarm();
  // Ends the watch, before the connection is closed: the thread lets go of the socket.
  void stop();

 private:
  void run(const std::string& display);

  std::mutex mutex_;
  std::condition_variable changed_;
  bool made_ = false;       // connecting has ended (connection_ and screen_ are set)
  bool abandoned_ = false;  // nobody waits for the connection any longer
  bool stopping_ = false;
  xcb_connection_t* connection_ = nullptr;
  int screen_ = 0;
  std::optional<double> armedUntil_;
  std::optional<double> sleepingUntil_;  // the deadline the watch sleeps for, while it does
  std::uint64_t arming_ = 0;  // changes with every arm and disarm
  bool fired_ = false;
};

}  // namespace nevo::lin
