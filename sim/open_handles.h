// The handles a program has open, listed until it closes them, as
// libusb-1.0 keeps its open devices: a program that leaves one to its exit
// (as a tool may after a failed open) still holds it there, and a leak
// checker sees it held rather than lost.
#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

namespace tapsim {

template <typename Handle> class OpenHandles {
  public:
    void add(Handle *h) // may throw std::bad_alloc
    {
        std::lock_guard<std::mutex> guard(mutex_);
        list_.push_back(h);
    }
    void remove(Handle *h)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        list_.erase(std::remove(list_.begin(), list_.end(), h), list_.end());
    }

  private:
    std::mutex mutex_;
    std::vector<Handle *> list_;
};

} // namespace tapsim
