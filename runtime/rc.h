// Intrusive reference counting. Interfaces declare only their operations after
// the three counting ones; the wrappers below supply counting and deletion.
// Factories hand the caller its first reference.
#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace qs {

constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002u);

struct NullStruct {};

// First three operations of every interface.
struct IRefCounted {
  virtual int32_t QueryInterface(const void* iid, void** out) = 0;
  virtual int32_t AddRef() = 0;
  virtual int32_t Release() = 0;

 protected:
  ~IRefCounted() = default;  // objects go only through Release
};

struct RCObjectMultiThreadModel {
  static int32_t Increment(std::atomic<int32_t>& v) { return v.fetch_add(1, std::memory_order_relaxed) + 1; }
  static int32_t Decrement(std::atomic<int32_t>& v) { return v.fetch_sub(1, std::memory_order_acq_rel) - 1; }
};

template <class ThreadModel>
class RCObjectRootEx {
 public:
  int32_t InternalAddRef() { return ThreadModel::Increment(count_); }
  int32_t InternalRelease() { return ThreadModel::Decrement(count_); }
  int32_t count() const { return count_.load(); }

 private:
  std::atomic<int32_t> count_{0};
};

using RCObjectRoot = RCObjectRootEx<RCObjectMultiThreadModel>;

// Completes a class T that implements one interface.
template <class T, class A = NullStruct>
class RCObject2 final : public T {
 public:
  template <class... Args>
  explicit RCObject2(Args&&... args) : T(std::forward<Args>(args)...) {}
  virtual ~RCObject2() = default;

  int32_t QueryInterface(const void*, void**) override { return kENoInterface; }
  int32_t AddRef() override { return root_.InternalAddRef(); }
  int32_t Release() override {
    int32_t n = root_.InternalRelease();
    if (n == 0) delete this;
    return n;
  }

 private:
  RCObjectRoot root_;
};

// Counting without deletion, for objects of static storage.
template <class T, class A = NullStruct>
class RCObject2WithoutDeleting final : public T {
 public:
  template <class... Args>
  explicit RCObject2WithoutDeleting(Args&&... args) : T(std::forward<Args>(args)...) {}

  int32_t QueryInterface(const void*, void**) override { return kENoInterface; }
  int32_t AddRef() override { return root_.InternalAddRef(); }
  int32_t Release() override { return root_.InternalRelease(); }

 private:
  RCObjectRoot root_;
};

// The object's single count, reached from every interface part of a class that
// implements several interfaces.
class InterfaceImplBase {
 public:
  virtual int32_t OuterAddRef() = 0;
  virtual int32_t OuterRelease() = 0;

 protected:
  virtual ~InterfaceImplBase() = default;
};

template <class I>
class InterfaceImpl : public I, public virtual InterfaceImplBase {
 public:
  int32_t QueryInterface(const void*, void**) override { return kENoInterface; }
  int32_t AddRef() override { return OuterAddRef(); }
  int32_t Release() override { return OuterRelease(); }
};

template <class I1, class I2>
class InterfaceImpl2 : public InterfaceImpl<I1>, public InterfaceImpl<I2> {};

// An interface part with its own count of the references held through it:
// when that count drops to 0, FinalRelease runs before the object's own
// reference goes, so a service can stop as soon as its last client lets go.
class InterfaceImplWithFinalReleaseBase : public virtual InterfaceImplBase {
 protected:
  virtual void FinalRelease() = 0;
};

template <class ThreadModel, class I>
class InterfaceImplWithFinalRelease : public I, public InterfaceImplWithFinalReleaseBase {
 public:
  int32_t QueryInterface(const void*, void**) override { return kENoInterface; }
  int32_t AddRef() override {
    ThreadModel::Increment(ifaceCount_);
    return OuterAddRef();
  }
  int32_t Release() override {
    if (ThreadModel::Decrement(ifaceCount_) == 0) FinalRelease();
    return OuterRelease();
  }

 private:
  std::atomic<int32_t> ifaceCount_{0};
};

// Completes a class T that implements several interfaces through the parts above.
template <class T, class A = NullStruct>
class RCObject2Ex final : public T {
 public:
  template <class... Args>
  explicit RCObject2Ex(Args&&... args) : T(std::forward<Args>(args)...) {}
  virtual ~RCObject2Ex() = default;

  int32_t OuterAddRef() override { return root_.InternalAddRef(); }
  int32_t OuterRelease() override {
    int32_t n = root_.InternalRelease();
    if (n == 0) delete this;
    return n;
  }

 private:
  RCObjectRoot root_;
};

// A held reference. Assignment takes the new reference before dropping the old
// one, so self-assignment is safe.
template <class I>
class Ref {
 public:
  Ref() = default;
  Ref(I* p) : p_(p) {  // NOLINT: implicit on purpose, takes a reference
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~Ref() { reset(); }
  Ref& operator=(const Ref& o) { return *this = o.p_; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  Ref& operator=(I* p) {
    if (p) p->AddRef();
    I* old = p_;
    p_ = p;
    if (old) old->Release();
    return *this;
  }
  // Takes over a reference the caller already owns (a factory's first one).
  static Ref Adopt(I* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  I* detach() {
    I* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    I* old = p_;
    p_ = nullptr;
    if (old) old->Release();
  }
  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  I* p_ = nullptr;
};

// Allocates a counted object and hands back its first reference.
template <class Wrapper, class... Args>
Wrapper* CreateObject(Args&&... args) {
  auto* p = new Wrapper(std::forward<Args>(args)...);
  p->AddRef();
  return p;
}

}  // namespace qs
