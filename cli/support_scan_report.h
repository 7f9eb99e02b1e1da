// What a scan tells the user beyond its devices: why nothing was sent or
// nothing came back, and (verbose) what went out of each interface and what
// came back there. Texts only; the commands print them, one line each.
#pragma once
#include <string>
#include <vector>

#include "discovery/full_scan.h"

namespace qs::cli {

// "10.71.0.1/255.255.240.0 (up)", "127.0.0.1/255.0.0.0 (up, loopback)".
std::string InterfaceText(const plat::RawInterface& r);

// No socket took part: no usable interface (with every interface the system
// listed, and its state), or none whose socket could be set up.
std::vector<std::string> NothingSentLines(const disc::ScanStats& s);

// Probes went out and no datagram came back: where they went, and what to
// check.
std::vector<std::string> NoReplyLines(const disc::ScanStats& s);

// Each interface the system listed: what was sent there and how many
// replies of each kind came back; then the KV-xR library's scan.
std::vector<std::string> VerboseLines(const disc::FullScanResult& r);

}  // namespace qs::cli
