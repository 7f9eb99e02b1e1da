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
//   fw [KIND]                 what devices did in firmware updates (below)
//   counts                    "devices=N log=N sent=N winks=N fw=N"
//   clearlog                  empty log, sent, winks and fw
//   reboot MAC [MS]           the device goes silent at once for MS ms
//                             (default its reboot_ms; no reboot_delay) and
//                             comes back with pending settings
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
// (first_family.cpp, kvxr_scan.cpp, kvxr_config.cpp, kvxr_update.cpp). State
// values (state=, pending=, setcfg_count=, last_response=, wink_count=,
// loader_phase=, ram_sha1=, bytes_written=, pd_area= ...) are shown and cannot
// be set.
//
// log lines:   seq= seg=A|B src=IP:PORT dst=IP port= kind= [valid=0|1] len= hex=
//   (hex holds the first 512 bytes; 64 of stream and WPIMAG datagrams)
//   kinds: scan wink-text version discover setcfg reboot wink fw-reboot
//          fw-answer stream wp-hello wpoffr wpimag recovery wpboot-echo (a
//          loader's own broadcast coming back) cmd-XXXX junk oversize
// sent lines:  seq= mac= src=IP dst=IP:PORT kind= ok=0|1 len= hex=
//   kinds: text announce opmode version setcfg-accepted setcfg-refused challenge
//          fw-challenge wpboot wpslct wpackl announcement oversize junk
// winks lines: seq= rseq=(log seq) seg= src= dst= kind=text|auth hwid=HEX|-
//   mac=MAC,MAC|- valid=0|1
// fw lines:    seq= mac=MAC|- kind= [key=value...] t=MS
//   (t: the system's monotonic clock, milliseconds with three decimals)
//   the reboot exchange: fw-challenge fw-challenge-withheld fw-answer-accepted
//     fw-answer-refused (why=wrong|no-challenge|other-sender|expired|malformed)
//   the loaders: loader (type=stream|older|never) stream-refused wpoffr-taken
//     wpoffr-ignored wpoffr-refused wpoffr-malformed wpimag-other-job
//     wpimag-out-of-order wpimag-refused wpimag-malformed ram-program (source=
//     size= sha1=)
//   the programming stream: tcp-listen tcp-listen-failed tcp-refusing
//     tcp-accept tcp-closed-at-once tcp-cut tcp-close (why=) READ DGST WRTE
//     WRTU APPL (dir=in address= size=) RDAT DGST PRGS WFIN ERRO (dir=out
//     length= [position=|digest=]) refused malformed fault write-done
//     write-cut
//   the application: app-start (version=) app-failed (fw_info=)
//
// A device answers only requests that arrive on its segment while it is
//   fw [KIND]                 what devices did in firmware updates (below)
//   counts                    "devices=N log=N sent=N winks=N fw=N"
//   clearlog                  empty log, sent, winks and fw
//   reboot MAC [MS]           the device goes silent at once for MS ms
//                             (default its reboot_ms; no reboot_delay) and
//                             comes back with pending settings
#pragma once
#include <cstddef>

namespace qs::devsim {
constexpr size_t kMaxControlLine = 8192;
constexpr size_t kMaxControlClients = 32;
}  // namespace qs::devsim
