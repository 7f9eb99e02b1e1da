// quillscan-devsim: plays any number of devices on the local segments.
//   quillscan-devsim [--control IP:PORT] [--config FILE] [--device SETTINGS]...
//                    [--ready-file FILE] [--exit-with-parent] [--no-addresses] [--quiet]
// SETTINGS for one device are one line of the configuration file: key=value pairs.
// Control commands: devsim/control.h.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "devsim/families.h"
#include "devsim/sim.h"
#include "runtime/bytes.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage() {
  std::fprintf(stderr,
               "usage: quillscan-devsim [--control IP:PORT] [--config FILE] [--device SETTINGS]...\n"
               "                        [--ready-file FILE] [--exit-with-parent] [--no-addresses] [--quiet]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qs::devsim;
  Options opt;
  opt.controlAddress = 0x0A4700FEu;  // 10.71.0.254
  bool withParent = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--control" && value(&v)) {
      size_t colon = v.find(':');
      uint32_t ip = 0;
      long port = colon == std::string::npos ? -1 : std::strtol(v.c_str() + colon + 1, nullptr, 10);
      if (colon == std::string::npos || !qs::bytes::ParseIpv4(v.substr(0, colon), ip) || port <= 0 || port > 65535)
        return Usage();
      opt.controlAddress = ip;
      opt.controlPort = static_cast<uint16_t>(port);
    } else if (a == "--device" && value(&v)) {
      opt.devices.push_back(v);
    } else if (a == "--config" && value(&v)) {
      opt.configFile = v;
    } else if (a == "--ready-file" && value(&v)) {
      opt.readyFile = v;
    } else if (a == "--exit-with-parent") {
      withParent = true;
    } else if (a == "--quiet") {
      opt.quiet = true;
    } else if (a == "--no-addresses") {
      opt.manageAddresses = false;
    } else {
      return Usage();
    }
  }
  if (withParent) {
    pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Simulator sim;
  std::string error;
  if (!AddProductFamilies(sim, &error) || !sim.Start(opt, &error)) {
    std::fprintf(stderr, "quillscan-devsim: %s\n", error.c_str());
    return 1;
  }
  sim.Run(&g_stop);
  return 0;
}
