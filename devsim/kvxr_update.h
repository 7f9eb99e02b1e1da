// The device side of a KV-xR firmware update, one family over four files:
//
//   kvxr_update.cpp           settings, routes, what happens at a restart
//   kvxr_update_reboot.cpp    the plain-text "Reboot" exchange on 9010
//   kvxr_update_loader.cpp    the two boot loaders taking the RAM program: from
//                             the multicast stream on 60892, or uploaded after
//                             "WPBOOT" on 60889/60890
//   kvxr_update_stream.cpp    with the RAM program running: the recovery
//                             announcement on 60894 and the TCP programming
//                             stream over the device's memory (memory.h)
//
// A device's way through an update: application (state=online) -> a correct
// answer to the challenge -> silent for loader_delay -> boot loader
// (state=loader, loader_phase waiting-stream or waiting-offer) -> RAM program
// complete (loader_phase programmer: announces itself, serves TCP) -> "APPL"
// -> silent for app_delay -> the application of its flash, reporting the
// version of the flash's fw.info; a flash without a valid fw.info keeps the
// device in its boot loader instead.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devsim/device_memory.h"
#include "devsim/family.h"
#include "devsim/memory.h"
#include "devsim/tcp.h"

namespace qs::devsim {

class Journal;

constexpr uint16_t kOlderLoaderPort = 60890;  // source of "WPBOOT", where offers and images arrive
constexpr uint16_t kDefaultProgrammingPort = 60893;
constexpr size_t kRamCapacity = 256 * 1024;  // a RAM program larger than this is refused

enum class LoaderKind : uint8_t { Stream, Older, Never };
enum class Phase : uint8_t { App, Stream, Offer, Upload, Programmer };
enum class ChallengeFault : uint8_t { Good, None, Malformed, Short, Lead, Foreign };
enum class FwAnswer : uint8_t { None, Ok, Wrong, NoChallenge, OtherSender, Expired, Malformed };
enum class ReplyFault : uint8_t { None, Erro, BadTag, BadLen, Short, Silent };
enum class WriteFault : uint8_t { None, Erro, Drop, NoStick };
enum class AcceptMode : uint8_t { Serve, Refuse, Close };
enum class RecoveryReply : uint8_t { Good, Short, Port0, None };
enum class WpFault : uint8_t { None, NoSelect, WrongJob, LoseAck, Stall };
enum class RamSource : uint8_t { None, Stream, Older };

// The firmware a device's flash is made with.
struct FlashSource {
  enum class Kind : uint8_t { FromVersion, Version, Blank, File } kind = Kind::FromVersion;
  uint32_t major = 0, minor = 0;
  std::shared_ptr<const FlashImage> image;
};

// One connection of the programming stream.
struct StreamSession {
  enum class Step : uint8_t { Head, Fixed, Data, Discard };
  uint64_t id = 0;
  std::unique_ptr<TcpConnection> conn;
  bool closed = false;
  // the request being read
  Step step = Step::Head;
  uint8_t head[8] = {};
  size_t headGot = 0;
  char tag[5] = {};
  uint32_t length = 0;
  uint8_t fixed[8] = {};
  size_t fixedGot = 0, fixedNeed = 0;
  uint64_t discardLeft = 0;
  // the write under way
  bool productWrite = false;
  uint32_t address = 0, size = 0, got = 0, reported = 0;
  bool faultHere = false;
  // replies held back behind slow progress reports: (due, bytes)
  std::deque<std::pair<uint64_t, std::vector<uint8_t>>> held;
  uint64_t heldUntil = 0;
  bool timerArmed = false;
  bool closeAfterHeld = false;
};

struct UpdateState : FamilyState {
  UpdateState() {
    for (size_t i = 0; i < kAreaCount; ++i) {
      readFaultAt.Add(static_cast<Area>(i));
      writeFaultAt.Add(static_cast<Area>(i));
    }
  }

  // settings
  LoaderKind loader = LoaderKind::Stream;
  uint32_t loaderDelayMs = 500, appDelayMs = 500, wpIntervalMs = 1000;
  ChallengeFault challenge = ChallengeFault::Good;
  uint32_t challengeDelayMs = 0, challengeLifeMs = 10000;
  WpFault wpFault = WpFault::None;
  RecoveryReply recoveryReply = RecoveryReply::Good;
  uint16_t tcpPort = kDefaultProgrammingPort;
  AcceptMode accept = AcceptMode::Serve;
  ReplyFault readFault = ReplyFault::None, dgstFault = ReplyFault::None;
  KindSet<Area> readFaultAt, writeFaultAt;
  WriteFault writeFault = WriteFault::None;
  uint32_t prgsStep = 4096, prgsDelayMs = 0;
  FlashSource flash;
  ProductState product = ProductState::Valid;
  bool stuck = false;    // in its boot loader though nobody asked it to go there
  bool rebuild = false;  // a setting changed what the memory is made of

  Memory memory;

  // the reboot exchange
  bool hasToken = false;
  uint8_t token[16] = {};
  uint32_t tokenFrom = 0;
  uint64_t tokenAt = 0;
  uint32_t challenges = 0, answersOk = 0, answersRefused = 0;
  FwAnswer lastAnswer = FwAnswer::None;

  // the boot loader
  Phase phase = Phase::App;
  uint64_t epoch = 0;        // changes at every restart and phase; timers of an older one lapse
  bool fromLoader = false;   // the coming start leaves the boot loader
  bool leaving = false;      // "APPL" taken: nothing more is served
  std::vector<uint8_t> ram;  // the RAM program as far as it came
  std::vector<uint8_t> haveBlock;
  int64_t endBlock = -1;     // the short block that ends a streamed program
  size_t endLength = 0;
  uint32_t lastBlock = 0, highestBlock = 0;
  bool sawBlock = false, wrapped = false;
  uint32_t streamRefused = 0, streamConflicts = 0;
  uint8_t jobId[16] = {};
  uint32_t nextBlock = 0;
  bool ackLost = false;
  uint32_t bootMessages = 0;
  RamSource ramSource = RamSource::None;
  size_t ramSize = 0;
  std::string ramSha1 = "-";

  // the RAM program's services
  std::unique_ptr<TcpListener> listener;
  std::map<uint64_t, std::unique_ptr<StreamSession>> sessions;
  uint64_t nextSession = 1;
  uint32_t announcements = 0, accepted = 0;
  uint32_t reads = 0, digests = 0, writes = 0, refused = 0, appStarts = 0;
  uint64_t bytesWritten = 0;
};

class KvxrUpdate : public FamilyOf<UpdateState> {
 public:
  using S = UpdateState;

  SettingTable Settings() const override;
  std::vector<Route> Routes() override;
  void OnStarted(Device& d) override;
  void OnRestart(Device& d) override;
  void OnSettings(Device& d, bool adding) override;

 private:
  void OnAttach() override;
  // One line of the "fw" journal: what the device did and why.
  void Note(const Device& d, const std::string& kind, const std::string& detail);
  void Note(const std::string& who, const std::string& kind, const std::string& detail);
  bool InLoader(const Device& d, const Arrival& a, Phase phase) const {
    return d.power == Power::Loader && d.Reachable(a.seg) && State(d).phase == phase;
  }
  void Rebuild(Device& d);

  // kvxr_update_reboot.cpp
  void OnRebootRequest(const Datagram& g);
  void OnRebootAnswer(const Datagram& g);
  void SendChallenge(Device& d, UdpPort* via, uint32_t to, uint16_t port);

  // kvxr_update_loader.cpp
  void EnterLoader(Device& d);
  void OnStreamBlock(const Datagram& g);
  void TakeStreamBlock(Device& d, uint16_t block, const uint8_t* bytes, size_t length);
  void SendBootMessage(Device& d);
  void RepeatBootMessage(Device& d);
  void OnWatcherHello(const Datagram& g);
  void OnOffer(const Datagram& g);
  void OnImageBlock(const Datagram& g);
  void ProgramReady(Device& d, RamSource source);

  // kvxr_update_stream.cpp
  void OnRecoveryRequest(const Datagram& g);
  void OpenProgrammer(Device& d);
  void CloseProgrammer(Device& d);
  void OnAccept(uint64_t device, int fd, uint32_t peer, uint16_t peerPort);
  void OnStreamData(Device& d, StreamSession& ss, const uint8_t* p, size_t n);
  void OnRequest(Device& d, StreamSession& ss);
  void OnRead(Device& d, StreamSession& ss, uint32_t address, uint32_t size);
  void OnDigest(Device& d, StreamSession& ss, uint32_t address, uint32_t size);
  void OnWriteHead(Device& d, StreamSession& ss, uint32_t address);
  void OnWriteData(Device& d, StreamSession& ss, const uint8_t* p, size_t n);
  void OnApply(Device& d, StreamSession& ss);
  void Refuse(Device& d, StreamSession& ss, const std::string& what);
  void Emit(Device& d, StreamSession& ss, const char* tag, const std::vector<uint8_t>& payload, uint32_t delayMs = 0,
            uint32_t lengthField = 0xFFFFFFFFu);
  void EmitRaw(Device& d, StreamSession& ss, std::vector<uint8_t> bytes, uint32_t delayMs);
  void FlushHeld(Device& d, uint64_t session);
  void EndSession(Device& d, StreamSession& ss, const std::string& why, bool reset);
  void Reap(Device& d, uint64_t session, uint32_t tries);

  Journal* journal_ = nullptr;
};

}  // namespace qs::devsim
