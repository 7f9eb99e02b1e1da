// Asking a KV-xR device itself for its operation mode. The library's record
// holds 0 for a report of mode 0, for no report at all, and for a report that
// came after the announce; the device's own report tells them apart. The
// question is the library's discover request, sent as its scan sends it
// (command port, fresh nonce, a new one after a quiet spell), and the answer
// is the operation-mode report that names the device.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/frame.h"
#include "net/adapters.h"

namespace qs::cli {

constexpr size_t kHardwareIdSize = 16;
// How long the device is asked, and the quiet spell after which a new
// request (with a new nonce) goes out: the library scan's interval.
constexpr uint32_t kOpModeAskMs = 2000;
constexpr uint32_t kOpModeResendMs = 670;
// Sockets asked from at once (one wait takes them all).
constexpr size_t kOpModeMaxInterfaces = 10;

// What one datagram is to the question.
enum class OpModeReply {
  Report,       // the report of the device asked; *mode holds its value
  NotCurrent,   // wrong length or digest: no answer to the latest request
  OtherType,    // an answer of another type (the announce ...)
  Incomplete,   // a report without the identifier or without the mode
  OtherDevice,  // a report that names another device
};

// *mode is written only for Report.
OpModeReply ReadOpModeReply(const uint8_t nonce[disc::kNonceSize], const uint8_t hardwareId[kHardwareIdSize],
                            const uint8_t* data, size_t len, uint8_t* mode);

// The interfaces to ask from: those whose subnet holds the device's address
// (one of them heard its announce in the library's scan); when none does,
// every one, as the scan asked (a device outside every local subnet still
// hears the broadcasts on its wire). At most kOpModeMaxInterfaces.
std::vector<net::InterfaceEntry> InterfacesToAsk(const std::vector<net::InterfaceEntry>& all, uint32_t deviceAddress);

struct OpModeQuestion {
  uint8_t hardwareId[kHardwareIdSize] = {};
  uint32_t deviceAddress = 0;    // host order
  bool limitedBroadcast = true;  // 255.255.255.255, else each interface's directed broadcast
};

enum class OpModeOutcome {
  Heard,     // the device's report came
  Silent,    // asked for the whole time; no report of the device came
  NotAsked,  // nothing could be sent (why says what failed)
};

struct OpModeAnswer {
  OpModeOutcome outcome = OpModeOutcome::NotAsked;
  uint8_t mode = 0;       // Heard: the device's current operation mode
  uint32_t requests = 0;  // discover requests sent
  uint32_t skipped = 0;   // datagrams that were not the report
  std::string why;
};

// Asks for at most kOpModeAskMs; returns as soon as the report is heard.
OpModeAnswer AskOperationMode(const OpModeQuestion& q, net::InterfaceQueryFn query = plat::QueryInterfaces);

}  // namespace qs::cli
