// A discovery sink that forwards each report to a window object on the same
// thread. It holds a plain pointer: the owner unregisters it before it goes.
#pragma once
#include "discovery/device_manager.h"
#include "runtime/rc.h"

namespace qs::app {

template <class Owner>
class DiscoverSink : public disc::IDiscoverySink {
 public:
  explicit DiscoverSink(Owner* owner) : owner_(owner) {}
  virtual ~DiscoverSink() = default;
  int32_t OnDevice(disc::IDeviceInfo* device) override {
    if (owner_) owner_->OnDeviceReported(device);
    return 0;
  }
  void Detach() { owner_ = nullptr; }

 private:
  Owner* owner_;
};

template <class Owner>
using DiscoverSinkObject = RCObject2<DiscoverSink<Owner>>;

// Unregisters the sink and gives both references back; detached first, so
// that nothing reaches the owner once it has gone.
template <class Owner>
void ReleaseSink(Ref<disc::IDevMgr>& manager, Ref<DiscoverSinkObject<Owner>>& sink) {
  if (sink) {
    sink->Detach();
    if (manager) manager->Advise(sink.get(), false);
  }
  sink.reset();
  manager.reset();
}

}  // namespace qs::app
