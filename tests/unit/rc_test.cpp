#include <gtest/gtest.h>

#include "runtime/rc.h"

namespace qs {
namespace {

struct IThing : IRefCounted {
  virtual int Value() = 0;
};

int g_destroyed = 0;

class Thing : public IThing {
 public:
  ~Thing() { ++g_destroyed; }
  int Value() override { return 7; }
};

TEST(RefCounting, DestroyedExactlyAtLastRelease) {
  g_destroyed = 0;
  IThing* t = CreateObject<RCObject2<Thing>>();
  EXPECT_EQ(t->AddRef(), 2);
  EXPECT_EQ(t->Release(), 1);
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(t->Release(), 0);
  EXPECT_EQ(g_destroyed, 1);
}

TEST(RefCounting, QueryAlwaysSaysNoInterfaceAndLeavesOutPointer) {
  Ref<IThing> t = Ref<IThing>::Adopt(CreateObject<RCObject2<Thing>>());
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(t->QueryInterface(nullptr, &out), kENoInterface);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));
}

TEST(RefCounting, WithoutDeletingKeepsStaticObjectIntact) {
  static RCObject2WithoutDeleting<Thing> s;
  g_destroyed = 0;
  EXPECT_EQ(s.AddRef(), 1);
  EXPECT_EQ(s.Release(), 0);
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(s.Value(), 7);
}

TEST(RefCounting, SelfAssignmentOfHolderIsSafe) {
  g_destroyed = 0;
  Ref<IThing> a = Ref<IThing>::Adopt(CreateObject<RCObject2<Thing>>());
  Ref<IThing>& alias = a;
  a = alias;
  a = a.get();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Value(), 7);
  EXPECT_EQ(g_destroyed, 0);
  a.reset();
  EXPECT_EQ(g_destroyed, 1);
}

struct IService : IRefCounted {
  virtual int Ping() = 0;
};
struct IOther : IRefCounted {
  virtual int Pong() = 0;
};

int g_finalReleases = 0;
int g_serviceDestroyed = 0;

class Service : public InterfaceImplWithFinalRelease<RCObjectMultiThreadModel, IService>,
                public InterfaceImpl<IOther> {
 public:
  ~Service() { ++g_serviceDestroyed; }
  int Ping() override { return 1; }
  int Pong() override { return 2; }

 protected:
  void FinalRelease() override { ++g_finalReleases; }
};

TEST(RefCounting, FinalReleaseRunsOnceWhenLastInterfaceReferenceGoes) {
  g_finalReleases = 0;
  g_serviceDestroyed = 0;
  auto* obj = new RCObject2Ex<Service>();
  IService* svc = obj;
  IOther* other = obj;
  svc->AddRef();
  svc->AddRef();
  other->AddRef();  // an internal reference that keeps the object alive
  svc->Release();
  EXPECT_EQ(g_finalReleases, 0);
  svc->Release();
  EXPECT_EQ(g_finalReleases, 1);
  EXPECT_EQ(g_serviceDestroyed, 0);
  EXPECT_EQ(other->Pong(), 2);
  EXPECT_EQ(other->Release(), 0);
  EXPECT_EQ(g_serviceDestroyed, 1);
  EXPECT_EQ(g_finalReleases, 1);
}

TEST(RefCounting, SharedCountAcrossInterfaces) {
  g_serviceDestroyed = 0;
  auto* obj = new RCObject2Ex<Service>();
  IOther* other = obj;
  IService* svc = obj;
  EXPECT_EQ(other->AddRef(), 1);
  EXPECT_EQ(svc->AddRef(), 2);
  EXPECT_EQ(other->Release(), 1);
  EXPECT_EQ(svc->Release(), 0);
  EXPECT_EQ(g_serviceDestroyed, 1);
}

}  // namespace
}  // namespace qs
