#include "tests/support/sim_client.h"

#include <cstdio>
#include <cstdlib>

#include "platform/tick.h"
#include "runtime/bytes.h"

namespace qs::test {

namespace {
uint32_t EnvAddress(const char* name) {
  const char* v = std::getenv(name);
  return v ? ParseAddress(v) : 0;
}
}  // namespace

bool TestNet::Available() { return EnvAddress("QS_NET_SIM") != 0 && EnvAddress("QS_NET_PC_A") != 0; }
uint32_t TestNet::PcA() { return EnvAddress("QS_NET_PC_A"); }
uint32_t TestNet::PcB() { return EnvAddress("QS_NET_PC_B"); }
uint32_t TestNet::PcDown() { return EnvAddress("QS_NET_PC_DOWN"); }
uint32_t TestNet::Mask() { return EnvAddress("QS_NET_MASK"); }
uint32_t TestNet::Sim() { return EnvAddress("QS_NET_SIM"); }
uint16_t TestNet::SimPort() {
  const char* v = std::getenv("QS_NET_SIM_PORT");
  long p = v ? std::strtol(v, nullptr, 10) : 0;
  return p > 0 && p < 65536 ? static_cast<uint16_t>(p) : 7700;
}

uint32_t ParseAddress(const std::string& text) {
  uint32_t a = 0;
  return bytes::ParseIpv4(text, a) ? a : 0;
}

std::string FormatAddress(uint32_t address) { return bytes::FormatIpv4(address); }

std::map<std::string, std::string> ParseFields(const std::string& line) {
  std::map<std::string, std::string> m;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t eq = line.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = line.substr(i, eq - i);
    i = eq + 1;
    std::string value;
    if (i < line.size() && line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) end = line.size();
      value = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      value = line.substr(i, end - i);
      i = end;
    }
    m[key] = value;
  }
  return m;
}

bool SimClient::Connect(uint32_t timeoutMs) {
  buffer_.clear();
  socket_.Close();
  uint32_t start = plat::TickCount();
  // The simulator listens before the test starts; retry briefly anyway.
  do {
    if (socket_.Connect(TestNet::Sim(), TestNet::SimPort(), 1000)) return true;
    plat::SleepMs(50);
  } while (plat::TicksSince(start) < timeoutMs);
  return false;
}

bool SimClient::ReadLine(std::string* line) {
  uint32_t start = plat::TickCount();
  for (;;) {
    size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      *line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    uint32_t spent = plat::TicksSince(start);
    if (spent >= timeoutMs) return false;
    char buf[65536];
    int n = socket_.Recv(buf, sizeof buf, timeoutMs - spent);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

bool SimClient::Command(const std::string& line, std::vector<std::string>* lines, std::string* error) {
  if (lines) lines->clear();
  std::string why;
  if (!socket_.is_open() && !Connect()) {
    if (error) *error = "no connection to the simulator";
    return false;
  }
  std::string out = line + "\n";
  if (!socket_.SendAll(out.data(), out.size(), timeoutMs)) {
    socket_.Close();
    if (error) *error = "send to the simulator failed";
    return false;
  }
  std::string reply;
  while (ReadLine(&reply)) {
    if (reply == "OK") return true;
    if (reply.compare(0, 4, "ERR ") == 0 || reply == "ERR") {
      if (error) *error = reply.size() > 4 ? reply.substr(4) : "";
      return false;
    }
    if (lines) lines->push_back(reply);
  }
  socket_.Close();
  if (error) *error = "no reply from the simulator";
  return false;
}

bool SimClient::Reset() { return Command("reset"); }

std::string SimClient::AddDevice(const std::string& settings, std::string* error) {
  std::vector<std::string> lines;
  if (!Command("add " + settings, &lines, error)) return "";
  for (const auto& l : lines)
    if (l.compare(0, 4, "mac=") == 0) return l.substr(4);
  if (error) *error = "no MAC in the reply";
  return "";
}

bool SimClient::Set(const std::string& mac, const std::string& settings, std::string* error) {
  return Command("set " + mac + " " + settings, nullptr, error);
}

bool SimClient::Remove(const std::string& mac) { return Command("remove " + mac); }
bool SimClient::Flood(const std::string& settings) { return Command("flood " + settings); }

std::vector<std::string> SimClient::Log() {
  std::vector<std::string> l;
  Command("log", &l);
  return l;
}

std::vector<std::string> SimClient::Sent() {
  std::vector<std::string> l;
  Command("sent", &l);
  return l;
}

std::vector<std::string> SimClient::Winks() {
  std::vector<std::string> l;
  Command("winks", &l);
  return l;
}

std::vector<std::string> SimClient::List() {
  std::vector<std::string> l;
  Command("list", &l);
  return l;
}

std::map<std::string, std::string> SimClient::Show(const std::string& mac) {
  std::vector<std::string> lines;
  std::map<std::string, std::string> m;
  if (!Command("show " + mac, &lines)) return m;
  for (const auto& l : lines) {
    size_t eq = l.find('=');
    if (eq != std::string::npos) m[l.substr(0, eq)] = l.substr(eq + 1);
  }
  return m;
}

std::vector<std::map<std::string, std::string>> SimClient::LogOfKind(const std::string& kind) {
  std::vector<std::map<std::string, std::string>> out;
  for (const auto& l : Log()) {
    auto f = ParseFields(l);
    if (f["kind"] == kind) out.push_back(f);
  }
  return out;
}

}  // namespace qs::test
