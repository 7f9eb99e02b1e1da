#include "platform/thread.h"

#include <windows.h>

#include <atomic>

namespace qs::plat {

struct NativeThread::Impl {
  HANDLE h = nullptr;
  Proc proc;
  void* arg;
  std::atomic<int> refs{2};  // the owner and the thread
  Impl(Proc p, void* a) : proc(p), arg(a) {}
};

namespace {
void Unref(NativeThread::Impl* impl) {
  if (impl->refs.fetch_sub(1) == 1) delete impl;
}

DWORD WINAPI Trampoline(LPVOID p) {
  auto* impl = static_cast<NativeThread::Impl*>(p);
  impl->proc(impl->arg);
  Unref(impl);
  return 0;
}
}  // namespace

NativeThread::~NativeThread() {
  if (impl_) {
    CloseHandle(impl_->h);  // detaches a thread that was never joined
    Unref(impl_);
  }
}

bool NativeThread::Start(Proc proc, void* arg, size_t stackBytes) {
  if (impl_) return false;
  auto* impl = new Impl(proc, arg);
  impl->h = CreateThread(nullptr, stackBytes, Trampoline, impl,
                         CREATE_SUSPENDED | (stackBytes ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0),
                         nullptr);
  if (!impl->h) {
    delete impl;
    return false;
  }
  impl_ = impl;
  ResumeThread(impl->h);
  return true;
}

bool NativeThread::Join(uint32_t timeoutMs) {
  if (!impl_) return true;
  if (WaitForSingleObject(impl_->h, timeoutMs) != WAIT_OBJECT_0) return false;
  CloseHandle(impl_->h);
  Unref(impl_);
  impl_ = nullptr;
  return true;
}

void* NativeThread::handle() const { return impl_ ? impl_->h : nullptr; }

bool NativeThread::IsCurrent() const { return impl_ && GetThreadId(impl_->h) == GetCurrentThreadId(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace qs::plat
