// What an event is on both builds: owning one wait object, movable.
#include "platform/event.h"

namespace qs::plat {

Event::~Event() { Close(); }

Event::Event(Event&& o) noexcept : obj_(o.obj_) { o.obj_ = WaitObject{}; }

Event& Event::operator=(Event&& o) noexcept {
  if (this != &o) {
    Close();
    obj_ = o.obj_;
    o.obj_ = WaitObject{};
  }
  return *this;
}

}  // namespace qs::plat
