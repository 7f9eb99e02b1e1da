#include "platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "platform/event.h"

namespace qs::plat {

struct NativeThread::Impl {
  pthread_t t{};
  Proc proc;
  void* arg;
  Event done;  // manual reset: lets Join wait with a limit
  std::atomic<int> refs{2};  // the owner and the thread
  Impl(Proc p, void* a) : proc(p), arg(a) {}
};

namespace {
void Unref(NativeThread::Impl* impl) {
  if (impl->refs.fetch_sub(1) == 1) delete impl;
}

void* Trampoline(void* p) {
  auto* impl = static_cast<NativeThread::Impl*>(p);
  impl->proc(impl->arg);
  impl->done.Set();
  Unref(impl);
  return nullptr;
}
}  // namespace

NativeThread::~NativeThread() {
  if (impl_) {
    pthread_detach(impl_->t);
    Unref(impl_);
  }
}

bool NativeThread::Start(Proc proc, void* arg, size_t stackBytes) {
  if (impl_) return false;
  auto* impl = new Impl(proc, arg);
  if (!impl->done.Create(true, false)) {
    delete impl;
    return false;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stackBytes) pthread_attr_setstacksize(&attr, stackBytes < 65536 ? 65536 : stackBytes);
  int rc = pthread_create(&impl->t, &attr, Trampoline, impl);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

bool NativeThread::Join(uint32_t timeoutMs) {
  if (!impl_) return true;
  if (!impl_->done.Wait(timeoutMs)) return false;
  pthread_join(impl_->t, nullptr);
  Unref(impl_);
  impl_ = nullptr;
  return true;
}

void* NativeThread::handle() const { return impl_; }

bool NativeThread::IsCurrent() const { return impl_ && pthread_equal(impl_->t, pthread_self()); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

}  // namespace qs::plat
