// Results carried from worker threads to the host thread: the notification
// windows, the scan result, the job frame and a scan with nothing to scan.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "library/KV-xR_update.h"
#include "library/library_state.h"
#include "library/scan_result.h"
#include "library/scanner.h"
#include "net/udp_endpoint.h"
#include "platform/socket.h"
#include "net/worker.h"
#include "platform/thread.h"
#include "platform/tick.h"
#include "runtime/syncwnd.h"
#include "runtime/thread.h"
#include "tests/library/test_host.h"

namespace qs::kvxr {
namespace {

struct Seen {
  int32_t handle;
  std::string line;
  uint32_t thread;
};
std::vector<Seen> g_seen;
std::vector<std::string> g_serials;

void OnDevice(int32_t h, const KVxR_WCHAR* line) {
  std::string s;
  for (const KVxR_WCHAR* p = line; *p; ++p) s.push_back(static_cast<char>(*p));
  g_seen.push_back(Seen{h, s, plat::CurrentThreadId()});
}

// Looks the device up again from inside the callback, as the program does.
void OnDeviceAsking(int32_t h, const KVxR_WCHAR* line) {
  OnDevice(h, line);
  KVxR_WCHAR serial[200];
  uint8_t id[16];
  if (KVxR_GetSerial(h, serial, 200) == 0 && KVxR_GetHardwareID(h, id) == 0) {
    std::string s;
    for (const KVxR_WCHAR* p = serial; *p; ++p) s.push_back(static_cast<char>(*p));
    g_serials.push_back(s);
  }
}

DeviceRecord Record(uint32_t model, uint8_t last) {
  DeviceRecord r;
  r.model = model;
  r.address = 0x0A470800u | last;
  r.mac[5] = last;
  r.hardwareId[0] = last;
  std::snprintf(reinterpret_cast<char*>(r.serial), sizeof r.serial, "SER%u", last);
  r.netmask = 0xFFFFF000u;
  return r;
}

class Delivery : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_serials.clear();
    ASSERT_TRUE(test::OpenHost());
  }
  void TearDown() override {
    SetCurrentScanResult(nullptr);
    test::Pump(50);
  }
};

TEST_F(Delivery, DevicesFromWorkersArriveOnTheHostThreadInHandleOrder) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  const int32_t before = LastDeviceHandle();
  std::thread worker([r] {
    r->Report(false, Record(1, 1));
    r->Report(false, Record(4, 2));  // kept, never described
    r->Report(false, Record(3, 3));
  });
  worker.join();
  EXPECT_TRUE(g_seen.empty());  // nothing runs before the host thread dispatches
  test::Pump(300);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].handle, before + 1);
  EXPECT_EQ(g_seen[1].handle, before + 3);
  EXPECT_EQ(g_seen[0].thread, plat::CurrentThreadId());
  EXPECT_EQ(g_seen[0].line.substr(0, 16), "KV-1R|10.71.8.1|");
  EXPECT_TRUE(r->Find(before + 2, nullptr));
  EXPECT_FALSE(r->Find(before + 4, nullptr));
  r->Release();
}

TEST_F(Delivery, EnumerationMayLookDevicesUpFromItsCallback) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  SetCurrentScanResult(r);
  r->Report(false, Record(2, 7));
  r->Report(false, Record(1, 8));
  test::Pump(200);
  g_seen.clear();
  std::atomic<bool> finished{false};
  // Bounded: a deadlock here fails the test instead of hanging it.
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !finished; ++i) plat::SleepMs(50);
    if (!finished) std::abort();
  });
  EXPECT_EQ(KVxR_EnumDevices(OnDeviceAsking), KVXR_OK);
  finished = true;
  watchdog.join();
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_LT(g_seen[0].handle, g_seen[1].handle);
  ASSERT_EQ(g_serials.size(), 2u);
  EXPECT_EQ(g_serials[0], "SER7");
  EXPECT_EQ(g_serials[1], "SER8");
  r->Release();
}

TEST_F(Delivery, ExportsAnswerForTheCurrentTableOnly) {
  IScanResult* first = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(first, nullptr);
  SetCurrentScanResult(first);
  DeviceRecord rec = Record(3, 9);
  rec.operationMode = 0x42;
  first->Report(false, rec);
  const int32_t h = LastDeviceHandle();
  uint8_t mode = 0, id[16] = {};
  EXPECT_EQ(KVxR_ReadOperationMode(h, &mode), KVXR_OK);
  EXPECT_EQ(mode, 0x42);
  EXPECT_EQ(KVxR_GetHardwareID(h, id), KVXR_OK);
  EXPECT_EQ(id[0], 9);
  KVxR_WCHAR serial[8];
  EXPECT_EQ(KVxR_GetSerial(h, serial, 5), KVXR_OK);  // "SER9" and its NUL fit exactly
  EXPECT_EQ(KVxR_GetSerial(h, serial, 4), KVXR_NO_ROOM);
  EXPECT_EQ(KVxR_GetSerial(h + 1000, serial, 8), KVXR_UNKNOWN_DEVICE);

  IScanResult* second = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(second, nullptr);
  SetCurrentScanResult(second);
  EXPECT_EQ(KVxR_ReadOperationMode(h, &mode), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_GetHardwareID(h, id), KVXR_UNKNOWN_DEVICE);
  EXPECT_EQ(KVxR_GetSerial(h, serial, 8), KVXR_UNKNOWN_DEVICE);
  // The replaced result still delivers to its own callback.
  first->Report(false, Record(1, 10));
  test::Pump(200);
  EXPECT_EQ(g_seen.back().handle, LastDeviceHandle());
  SetCurrentScanResult(nullptr);
  EXPECT_EQ(KVxR_EnumDevices(OnDevice), KVXR_NO_SCAN);
  first->Release();
  second->Release();
}

TEST_F(Delivery, FinishedScanDeliversWhatCameBeforeAndNothingAfter) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  r->Report(false, Record(1, 1));
  r->Report(true, DeviceRecord());
  r->Report(false, Record(1, 2));  // posted before the window has closed
  test::Pump(300);
  r->Report(false, Record(1, 3));  // the window is gone: kept, not posted
  test::Pump(200);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_TRUE(r->Find(LastDeviceHandle(), nullptr));
  r->Release();
}

// Numbered and queued windows of the runtime.
struct Drained {
  std::vector<int> got;
  static void Take(void* c, int& v) { static_cast<Drained*>(c)->got.push_back(v); }
};

TEST_F(Delivery, PostsBeforeTheHostRunsArriveInPostingOrder) {
  const uint32_t msg = plat::RegisterNotifyMessage("__QsTestNumbered__");
  ASSERT_NE(msg, 0u);
  EXPECT_EQ(plat::RegisterNotifyMessage("__QsTestNumbered__"), msg);
  Drained d;
  auto* w = new NumberedSyncWnd<int>(msg, &Drained::Take, &d);
  ASSERT_TRUE(w->Create(test::HostHandle(), "QsTestNumbered"));
  Ref<NumberedSyncWnd<int>::Poster> poster = w->poster();
  std::thread t([&] {
    for (int i = 1; i <= 5; ++i) poster->PostPayload(i);
  });
  t.join();
  test::Pump(300);
  EXPECT_EQ(d.got, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(poster->pending(), 0u);
  w->Destroy();

  const uint32_t qmsg = plat::RegisterNotifyMessage("__QsTestQueue__");
  Drained q;
  auto* qw = new QueueSyncWnd<int>(qmsg, &Drained::Take, &q);
  ASSERT_TRUE(qw->Create(test::HostHandle(), "QsTestQueue"));
  Ref<QueueSyncWnd<int>::Queue> queue = qw->queue();
  queue->Push(1);
  queue->Push(2);  // one message drains both
  test::Pump(300);
  EXPECT_EQ(q.got, (std::vector<int>{1, 2}));
  qw->Destroy();
}

// Workers hold the posting side, never the window: once the host has
// destroyed the window, their posts do nothing (and are counted).
TEST_F(Delivery, AWorkerPostingAfterTheWindowIsGoneDoesNothing) {
  const uint32_t msg = plat::RegisterNotifyMessage("__QsTestLate__");
  Drained d;
  auto* w = new NumberedSyncWnd<int>(msg, &Drained::Take, &d);
  ASSERT_TRUE(w->Create(test::HostHandle(), "QsTestLateNumbered"));
  auto* qw = new QueueSyncWnd<int>(msg, &Drained::Take, &d);
  ASSERT_TRUE(qw->Create(test::HostHandle(), "QsTestLateQueue"));
  Ref<NumberedSyncWnd<int>::Poster> poster = w->poster();
  Ref<QueueSyncWnd<int>::Queue> queue = qw->queue();
  std::atomic<bool> go{false}, stop{false};
  std::atomic<int> accepted{0};
  // Posting all along while the host thread destroys both windows.
  std::thread worker([&] {
    while (!go) std::this_thread::yield();
    while (!stop) {
      if (poster->PostPayload(1)) ++accepted;
      if (queue->Push(2)) ++accepted;
    }
  });
  go = true;
  for (int i = 0; i < 2000 && accepted.load() < 20; ++i) plat::SleepMs(1);
  w->Destroy();   // both objects are deleted here
  qw->Destroy();
  plat::SleepMs(5);
  stop = true;
  worker.join();
  EXPECT_GT(accepted.load(), 0);
  std::thread late([&] {
    EXPECT_FALSE(poster->PostPayload(3));
    EXPECT_FALSE(queue->Push(4));
  });
  late.join();
  EXPECT_GE(poster->dropped(), 1u);
  EXPECT_GE(queue->dropped(), 1u);
  test::Pump(100);
  for (int v : d.got) EXPECT_TRUE(v == 1 || v == 2);  // nothing posted after the end arrived
}

// Fills the host thread's posted-message queue through a window of its own.
// false where the system sets no limit that a test can reach.
class Filler : public SyncWnd {
 public:
  explicit Filler(uint32_t msg) : msg_(msg) {}
  size_t Fill() {
    size_t n = 0;
    while (n <= plat::kMaxPostedNotifications && plat::PostNotify(window(), msg_, 0, 0)) ++n;
    return n;
  }
  size_t got = 0;

 protected:
  bool OnMessage(uint32_t m, uintptr_t, intptr_t) override {
    if (m != msg_) return false;
    ++got;
    return true;
  }

 private:
  uint32_t msg_;
};

class FullQueue : public Delivery {
 protected:
  void SetUp() override {
    Delivery::SetUp();
    filler_ = new Filler(plat::RegisterNotifyMessage("__QsTestFiller__"));
    ASSERT_TRUE(filler_->Create(test::HostHandle(), "QsTestFiller"));
  }
  void TearDown() override {
    test::Pump(200);
    filler_->Destroy();
    Delivery::TearDown();
  }
  // true when the queue is full now; false (from then on without trying)
  // where more than the quota's worth of posts is accepted.
  bool Fill() {
    static bool noLimit = false;
    if (noLimit) return false;
    noLimit = filler_->Fill() > plat::kMaxPostedNotifications;
    return !noLimit;
  }
  Filler* filler_ = nullptr;
};

TEST_F(FullQueue, ReportsRefusedByAFullHostQueueArriveWhenItHasRoomAgain) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  const size_t windows = QueueWindowCount();
  if (!Fill()) {
    r->Release();
    GTEST_SKIP() << "this system's posted-message queue has no reachable limit";
  }
  const int32_t before = LastDeviceHandle();
  // The scan's last thread: two devices, then the end, retried while refused.
  std::atomic<bool> flushed{false};
  std::thread worker([&] {
    r->Report(false, Record(1, 1));
    r->Report(false, Record(2, 2));
    r->Report(true, DeviceRecord());
    flushed = r->Flush(5000);
  });
  plat::SleepMs(200);  // the worker's posts are refused meanwhile
  test::Pump(3000, &flushed);  // the host drains its queue; the retry gets through
  worker.join();
  EXPECT_TRUE(flushed.load());
  test::Pump(300);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].handle, before + 1);
  EXPECT_EQ(g_seen[1].handle, before + 2);
  EXPECT_EQ(r->Undelivered(), 0u);
  EXPECT_EQ(QueueWindowCount(), windows - 1);  // the finished scan's window closed
  r->Release();
}

TEST_F(FullQueue, AFinishedScanWhosePostsWereAllRefusedIsDeliveredByTheNextLibraryCall) {
  // The library's own windows first: the count below is the scan's window.
  EnsureInitialised();
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  const size_t windows = QueueWindowCount();
  if (!Fill()) {
    r->Release();
    GTEST_SKIP() << "this system's posted-message queue has no reachable limit";
  }
  std::thread worker([&] {
    r->Report(false, Record(3, 3));
    r->Report(true, DeviceRecord());
    EXPECT_FALSE(r->Flush(100));  // the host does not pump meanwhile
  });
  worker.join();
  test::Pump(500);  // only the filler's messages were queued
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(QueueWindowCount(), windows);
  // Every initialising export starts with this, on the host thread.
  EnsureInitialised();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].line.substr(0, 5), "KV-3R");
  EXPECT_EQ(QueueWindowCount(), windows - 1);
  r->Release();
}

// An interface whose socket cannot be opened.
plat::IfQuery OneInterface(size_t, std::vector<plat::RawInterface>& out) {
  plat::RawInterface i;
  i.flags = plat::kIfUp | plat::kIfBroadcast;
  i.address = 0x7F000001;
  i.netmask = 0xFF000000;
  out.assign(1, i);
  return plat::IfQuery::Ok;
}

std::atomic<int> g_doneCount{0};
std::atomic<uint32_t> g_doneAt{0};
void OnDoneAt() {
  ++g_doneCount;
  g_doneAt = plat::TickCount();
}

TEST_F(Delivery, AScannerWithoutASocketWaitsOutItsWindowBeforeTheDoneCallback) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  g_doneCount = 0;
  net::InjectOpenFailures(1);
  const uint32_t t0 = plat::TickCount();
  StartScan(r, OnDoneAt, OneInterface);
  EXPECT_EQ(g_doneCount.load(), 0);
  for (int i = 0; i < 400 && g_doneCount.load() == 0; ++i) plat::SleepMs(20);
  net::InjectOpenFailures(0);
  ASSERT_EQ(g_doneCount.load(), 1);
  EXPECT_GE(g_doneAt.load() - t0, kScanWindowMs - 100);
  for (int i = 0; i < 100 && ListedScanCount() != 0; ++i) plat::SleepMs(20);
  EXPECT_EQ(ListedScanCount(), 0u);
  r->Release();
}

// Scans with nothing to scan: no interface qualifies.
plat::IfQuery NoInterfaces(size_t, std::vector<plat::RawInterface>& out) {
  out.clear();
  return plat::IfQuery::Ok;
}
std::atomic<int> g_done{0};
std::atomic<uint32_t> g_doneThread{0};
void OnDone() {
  ++g_done;
  g_doneThread = plat::CurrentThreadId();
}

TEST_F(Delivery, NoInterfaceEndsTheScanBeforeStartReturns) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  g_done = 0;
  StartScan(r, OnDone, NoInterfaces);
  EXPECT_EQ(g_done.load(), 1);
  EXPECT_EQ(g_doneThread.load(), plat::CurrentThreadId());
  EXPECT_EQ(ListedScanCount(), 0u);
  test::Pump(200);
  EXPECT_TRUE(g_seen.empty());
  r->Release();
}

TEST(Endpoint, WaitsOnUpToNineObjectsBesideTheSocket) {
  net::Endpoint ep;  // not opened: no socket, only the objects
  plat::Event ev[10];
  plat::WaitObject objs[10];
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(ev[i].Create(true, false));
    objs[i] = ev[i].object();
  }
  const uint32_t t0 = plat::TickCount();
  EXPECT_EQ(ep.Receive(2000, objs, 10), net::kTooManyHandles);
  EXPECT_LT(plat::TicksSince(t0), 500u);  // refused without waiting
  ev[8].Set();
  EXPECT_EQ(ep.Receive(2000, objs, 9), 0);
  EXPECT_EQ(ep.lastWait(), 8u);
  ev[8].Reset();
  EXPECT_EQ(ep.Receive(30, objs, 9), 0);
  EXPECT_EQ(ep.lastWait(), plat::kWaitTimeout);
}

TEST(Deadline, ExpiresAfterItsDuration) {
  net::Deadline d = net::Deadline::FromNow(100);
  EXPECT_FALSE(d.Expired());
  EXPECT_LE(d.Remaining(), 100u);
  plat::SleepMs(120);
  EXPECT_TRUE(d.Expired());
  EXPECT_EQ(d.Remaining(), 0u);
}

class EchoJob : public net::Worker {
 public:
  EchoJob(int32_t value, uint32_t* thread) : Worker(1000), value_(value), thread_(thread) {}

 protected:
  int32_t Body(const net::Deadline& d, const plat::Event&) override {
    *thread_ = plat::CurrentThreadId();
    return d.Expired() ? -1 : value_;
  }

 private:
  int32_t value_;
  uint32_t* thread_;
};

TEST(Worker, RunsOnThePoolAndHandsBackItsResult) {
  uint32_t thread = 0;
  EXPECT_EQ(net::RunJobAndWait<EchoJob>(KVXR_SETCFG_NOT_STARTED, KVXR_SETCFG_NO_ACK, &thread), KVXR_SETCFG_NO_ACK);
  EXPECT_NE(thread, 0u);
  EXPECT_NE(thread, plat::CurrentThreadId());
}

TEST(DiscoveryMode, OnlyZeroAndOne) {
  EXPECT_EQ(KVxR_SetDiscoveryMode(1), KVXR_OK);
  EXPECT_EQ(KVxR_SetDiscoveryMode(2), KVXR_BAD_DISCOVERY_MODE);
  EXPECT_EQ(DiscoveryModeFlag(), 1);
  EXPECT_EQ(KVxR_SetDiscoveryMode(-1), KVXR_BAD_DISCOVERY_MODE);
  EXPECT_EQ(KVxR_SetDiscoveryMode(0), KVXR_OK);
  EXPECT_EQ(DiscoveryModeFlag(), 0);
}

TEST_F(Delivery, NotificationsRunOnlyOnTheHostThread) {
  if (test::HostCloseReachesLibrary()) GTEST_SKIP() << "Windows delivers through the window's own thread";
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  r->Report(false, Record(1, 1));
  std::atomic<int32_t> other{0};
  uint32_t t0 = plat::TickCount();
  std::thread t([&] { other = plat::DispatchNotifications(2000); });
  t.join();
  EXPECT_EQ(other.load(), -1);
  EXPECT_LT(plat::TicksSince(t0), 1000u);  // refused at once, not after the wait
  EXPECT_TRUE(g_seen.empty());
  test::Pump(200);
  EXPECT_EQ(g_seen.size(), 1u);
  r->Release();
}

// Last: the host goes away and takes the library's windows with it.
TEST_F(Delivery, NothingIsDeliveredOnceTheHostIsGone) {
  IScanResult* r = CreateScanResult(OnDevice, test::HostHandle());
  ASSERT_NE(r, nullptr);
  r->Report(false, Record(1, 1));
  test::CloseHost();
  r->Report(false, Record(1, 2));
  test::Pump(200);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(r->Undelivered(), 2u);  // both: the one queued when the host went, and the later one
  r->Release();
}

}  // namespace
}  // namespace qs::kvxr
