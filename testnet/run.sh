#!/usr/bin/env bash
# Runs one command inside a test network of its own and removes the network
# afterwards, whatever happens to the command.
#
#   testnet/run.sh [--timeout SECONDS] [--devices FILE] [--device SETTINGS]... [--keep-sim-log FILE]
#                  -- COMMAND [ARGS...]
#
# PC namespace:     qsa 10.71.0.1/20 (up), qsb 10.72.0.1/20 (up), qsc 10.73.0.1/20 (down), lo
# device namespace: brA 10.71.0.254/20 <-> qsa, brB 10.72.0.254/20 <-> qsb;
#                   quillscan-devsim with its control port on 10.71.0.254:7700
# The command runs in the PC namespace with QS_NET_* describing the network.
# Exit status: the command's; 124 on time-out; 125 when the network could not be built.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")

usage() {
  echo "usage: testnet/run.sh [--timeout SECONDS] [--devices FILE] [--device SETTINGS]... [--keep-sim-log FILE] -- COMMAND [ARGS...]" >&2
  exit 2
}

timeout=300 devices="" keeplog=""
specs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) [ $# -ge 2 ] || usage; timeout=$2; shift 2 ;;
    --devices) [ $# -ge 2 ] || usage; devices=$2; shift 2 ;;
    --device) [ $# -ge 2 ] || usage; specs+=(--device "$2"); shift 2 ;;
    --keep-sim-log) [ $# -ge 2 ] || usage; keeplog=$2; shift 2 ;;
    --) shift; break ;;
    -h|--help) usage ;;
    *) echo "testnet/run.sh: unknown option $1" >&2; usage ;;
  esac
done
[ $# -gt 0 ] || usage
case "$timeout" in ''|*[!0-9]*) echo "testnet/run.sh: bad --timeout $timeout" >&2; exit 2 ;; esac
[ "$timeout" -gt 0 ] || { echo "testnet/run.sh: bad --timeout $timeout" >&2; exit 2; }
if [ -n "$devices" ] && [ ! -r "$devices" ]; then
  echo "testnet/run.sh: cannot read $devices" >&2; exit 2
fi
[ "$(id -u)" = 0 ] || { echo "testnet/run.sh: needs root (network namespaces)" >&2; exit 125; }

# The simulator: QS_DEVSIM; else the one of the build that made the command
# (a build root of this tree holds devsim/ beside tests/); else the native
# build of that build root or of QS_BUILD_ROOT.
find_sim() {
  if [ -n "${QS_DEVSIM:-}" ]; then echo "$QS_DEVSIM"; return; fi
  local a d rel br=${QS_BUILD_ROOT:-build}
  for a in "$@"; do
    [ -e "$a" ] && a=$(realpath "$a")
    case "$a" in "$repo"/*) ;; *) continue ;; esac
    d=$(dirname "$a")
    while [ "${#d}" -gt "${#repo}" ]; do
      if [ -x "$d/devsim/quillscan-devsim" ]; then echo "$d/devsim/quillscan-devsim"; return; fi
      d=$(dirname "$d")
    done
    rel=${a#"$repo"/}
    rel=${rel%%/*}
    if [ -x "$repo/$rel/native/devsim/quillscan-devsim" ]; then
      echo "$repo/$rel/native/devsim/quillscan-devsim"; return
    fi
  done
  case "$br" in /*) ;; *) br=$repo/$br ;; esac
  echo "$br/native/devsim/quillscan-devsim"
}
sim=$(find_sim "$@")
[ -x "$sim" ] || { echo "testnet/run.sh: no simulator at $sim (build native first or set QS_DEVSIM)" >&2; exit 125; }

state=${QS_TESTNET_STATE:-/run/quillscan-testnet}
export QS_TESTNET_STATE=$state
"$here/sweep.sh"

id=qs$$$(od -An -N2 -tx1 /dev/urandom | tr -d ' \n')
pcns=${id}p devns=${id}d
statefile=$state/$id.net
work=$(mktemp -d "/tmp/qs-testnet.$id.XXXXXX")
mkdir -p "$state"

owner_start() {
  local s
  s=$(cat "/proc/$$/stat") || return
  s=${s##*) }
  set -- $s
  echo "${20}"
}
# The state file comes first, so that a sweep can always find what we made.
printf 'owner=%s\nowner_start=%s\npcns=%s\ndevns=%s\nwork=%s\n' "$$" "$(owner_start)" "$pcns" "$devns" "$work" \
  >"$statefile"

cmdpid="" cleaned=""
cleanup() {
  [ -n "$cleaned" ] && return
  cleaned=1
  [ -n "$cmdpid" ] && kill -TERM "$cmdpid" 2>/dev/null
  "$here/sweep.sh" --remove "$statefile" keep-work
  if [ -n "$keeplog" ] && [ -f "$work/sim.log" ]; then cp "$work/sim.log" "$keeplog" 2>/dev/null; fi
  rm -rf "$work"
}
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM
trap 'cleanup; exit 129' HUP
trap cleanup EXIT

fail() { echo "testnet/run.sh: $*" >&2; exit 125; }

build() {
  local p=$pcns d=$devns x
  ip netns add "$p" && ip netns add "$d" || return 1
  for x in "$p" "$d"; do
    ip -n "$x" link set lo up || return 1
    ip netns exec "$x" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 >/dev/null 2>&1
    # a device address answers ARP only on the bridge of its own segment
    ip netns exec "$x" sysctl -qw net.ipv4.conf.all.arp_ignore=1 >/dev/null 2>&1
  done
  for x in a b c; do
    ip -n "$p" link add "qs$x" type veth peer name "p$x" netns "$d" || return 1
  done
  ip -n "$d" link add brA type bridge forward_delay 0 stp_state 0 || return 1
  ip -n "$d" link add brB type bridge forward_delay 0 stp_state 0 || return 1
  ip -n "$d" link set pa master brA && ip -n "$d" link set pb master brB || return 1
  ip -n "$p" addr add 10.71.0.1/20 broadcast + dev qsa &&
  ip -n "$p" addr add 10.72.0.1/20 broadcast + dev qsb &&
  ip -n "$p" addr add 10.73.0.1/20 broadcast + dev qsc &&
  ip -n "$d" addr add 10.71.0.254/20 broadcast + dev brA &&
  ip -n "$d" addr add 10.72.0.254/20 broadcast + dev brB || return 1
  for x in qsa qsb; do ip -n "$p" link set "$x" up || return 1; done
  for x in pa pb pc brA brB; do ip -n "$d" link set "$x" up || return 1; done
  for x in qsa qsb qsc; do ip netns exec "$p" sysctl -qw "net.ipv4.conf.$x.rp_filter=0" >/dev/null 2>&1; done
  for x in brA brB; do ip netns exec "$d" sysctl -qw "net.ipv4.conf.$x.rp_filter=0" >/dev/null 2>&1; done
  return 0
}
build 2>"$work/build.err" || { cat "$work/build.err" >&2; fail "could not build the test network"; }

# Links carry traffic only once the kernel has seen their carrier (about a
# second after creation) and the bridge ports forward: wait for that here, so
# that no test has to.
links_up() {
  local x
  for x in qsa qsb; do
    [ "$(ip netns exec "$pcns" cat "/sys/class/net/$x/operstate" 2>/dev/null)" = up ] || return 1
  done
  for x in brA brB pa pb; do
    [ "$(ip netns exec "$devns" cat "/sys/class/net/$x/operstate" 2>/dev/null)" = up ] || return 1
  done
  [ "$(bridge -n "$devns" link show 2>/dev/null | grep -c 'state forwarding')" -ge 2 ]
}
up=""
for _ in $(seq 1 200); do
  links_up && { up=1; break; }
  sleep 0.05
done
[ -n "$up" ] || fail "the links of the test network did not come up within 10 s"

simargs=(--control 10.71.0.254:7700 --ready-file "$work/ready" --exit-with-parent)
[ -n "$devices" ] && simargs+=(--config "$devices")
[ ${#specs[@]} -gt 0 ] && simargs+=("${specs[@]}")
# QS_DEVSIM_ARGS: more simulator options (for example --quiet for benchmarks)
[ -n "${QS_DEVSIM_ARGS:-}" ] && read -r -a extra <<<"$QS_DEVSIM_ARGS" && simargs+=("${extra[@]}")
ip netns exec "$devns" "$sim" "${simargs[@]}" >"$work/sim.log" 2>&1 </dev/null &
simpid=$!
for _ in $(seq 1 100); do
  [ -e "$work/ready" ] && break
  kill -0 "$simpid" 2>/dev/null || { cat "$work/sim.log" >&2; fail "the simulator did not start"; }
  sleep 0.1
done
[ -e "$work/ready" ] || { cat "$work/sim.log" >&2; fail "the simulator did not listen within 10 s"; }

export QS_NET_PC_A=10.71.0.1 QS_NET_PC_B=10.72.0.1 QS_NET_PC_DOWN=10.73.0.1 QS_NET_MASK=255.255.240.0 \
       QS_NET_SIM=10.71.0.254 QS_NET_SIM_PORT=7700 QS_NET_PCNS=$pcns QS_NET_DEVNS=$devns

# The command keeps our standard input (a background job would get /dev/null).
exec 3<&0
ip netns exec "$pcns" timeout -k 5 "$timeout" "$@" <&3 3<&- &
cmdpid=$!
exec 3<&-
wait "$cmdpid"
rc=$?
cmdpid=""
if [ "$rc" = 124 ]; then echo "testnet/run.sh: command timed out after $timeout s" >&2; fi
if ! kill -0 "$simpid" 2>/dev/null; then
  echo "testnet/run.sh: the simulator died during the run; its log:" >&2
  tail -n 20 "$work/sim.log" >&2
  [ "$rc" = 0 ] && rc=125
fi
cleanup
exit "$rc"
