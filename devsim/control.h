// The simulator's control port: plain TCP on the device side (in the test
// network 10.71.0.254:7700, QS_NET_SIM and QS_NET_SIM_PORT), one command per
// line. This syntax is what tests rely on: extend it, do not change it.
//
// A line holds at most 8192 bytes; words are separated by blanks and
// "double quotes" group a value with blanks (text="two words"). Every reply
// ends with one line "OK" or "ERR <reason>"; the lines before it are output.
//
//   help                      the commands, then every device key with its
//                             values and meaning, family by family
//   reset                     remove every device; clear logs, timers, flood
//   add KEY=VALUE...          add a device; prints "mac=<MAC>". With count=N,
//                             N devices alike (ip= and static= then count up;
//                             mac, hwid and serial are not allowed), one
//                             "mac=" line each. Unnamed: MAC 02-51-53-xx-xx-xx,
//                             random hwid, serial QSnnnnnn, ip leased in the
//                             segment (x.x.8.1 up) unless static= without dhcp
//   remove MAC
//   set MAC KEY=VALUE...      change settings (all or none; mac cannot change)
//   show MAC                  every "key=value" of the device, one per line
//   list                      one line per device: mac model hwid ip dhcp
//                             serial version segment state
//   log [KIND]                datagrams received, oldest first (50000 kept)
//   sent [KIND]               datagrams the devices sent
//   winks                     winks received (kind=text or kind=auth)
//   counts                    "devices=N log=N sent=N winks=N"
//   clearlog                  empty log, sent and winks
//   reboot MAC [MS]           the device goes silent for MS ms (default its
//                             reboot_ms) and comes back with pending settings
//   flood count=N [size=S] [duration=MS] [to=IP:PORT]
//                             junk datagrams (1..S bytes, some shaped like
//                             replies): to=: now, to that address; else to
//                             the sender of the next scan or discover, half
//                             before and half after the replies, or spread
//                             evenly over MS ms with duration=
//   flood off
//   keys                      every device key, one per line
//   quit                      close this connection
//   shutdown                  stop the simulator
//
// Device keys: each is one row of a settings table, and that row alone
// makes it known to add, set, show, keys and help. The core's rows (identity,
// addresses, reply faults such as mute=, oversize=, digest=, restarts) are in
// device.cpp; each protocol family declares its own rows in its own file
// (first_family.cpp, kvxr_scan.cpp, kvxr_config.cpp). State values (state=,
// pending=, setcfg_count=, last_response=, wink_count= ...) are shown and
// cannot be set.
//
// log lines:   seq= seg=A|B src=IP:PORT dst=IP port= kind= [valid=0|1] len= hex=
//   (hex holds the first 512 bytes)
//   kinds: scan wink-text version discover setcfg reboot wink cmd-XXXX junk oversize
// sent lines:  seq= mac= src=IP dst=IP:PORT kind= ok=0|1 len= hex=
//   kinds: text announce opmode version setcfg-accepted setcfg-refused challenge
//          oversize junk
// winks lines: seq= rseq=(log seq) seg= src= dst= kind=text|auth hwid=HEX|-
//   mac=MAC,MAC|- valid=0|1
//
// A device answers only requests that arrive on its segment while it is
// online, and the text scan, discover and version query only when sent to
// its address, a broadcast of its segment or 255.255.255.255.
#pragma once
#include <cstddef>

namespace qs::devsim {
constexpr size_t kMaxControlLine = 8192;
constexpr size_t kMaxControlClients = 32;
}  // namespace qs::devsim
