#pragma once

// std::lock_guard, and std::mutex where the thread model has it.
#include <mutex>

namespace oscnet {

/// The lock of one network, usable with std::lock_guard. MinGW's default thread model has no
/// std::mutex, so Windows builds take a slim reader/writer lock of the system's instead.
class NetworkMutex {
 public:
  NetworkMutex() = default;
  NetworkMutex(const NetworkMutex&) = delete;
  NetworkMutex& operator=(const NetworkMutex&) = delete;

#if defined(_WIN32)
  void lock();
  void unlock();

 private:
  void* slot_ = nullptr;  // an SRWLOCK, which is one pointer initialised to null
#else
  void lock() {
    mutex_.lock();
  }
  void unlock() {
    mutex_.unlock();
  }

 private:
  std::mutex mutex_;
#endif
};

}  // namespace oscnet
