#!/usr/bin/env bash
# A failing, a timed-out, a signalled and a SIGKILLed testnet/run.sh must all
# leave no namespace, link or process behind. Usage: testnet_leak_test.sh SIMULATOR
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
export QS_DEVSIM=${1:?simulator path}
# a state folder of our own, so that parallel runs of other tests are not swept
export QS_TESTNET_STATE=$(mktemp -d /tmp/qs-leak-state.XXXXXX)
work=$(mktemp -d /tmp/qs-leak.XXXXXX)
trap 'rm -rf "$work" "$QS_TESTNET_STATE"' EXIT
pass=0 fail=0
ok() { echo "ok: $*"; pass=$((pass + 1)); }
bad() { echo "FAILED: $*"; fail=$((fail + 1)); }

host_links() { ip -o link | awk -F': ' '{print $2}' | sort; }
links_before=$(host_links)

# The command records its namespaces and the simulator's pid, then behaves.
cat >"$work/cmd.sh" <<'EOS'
#!/usr/bin/env bash
out=$1; shift
# the scratch folder of run.sh holds the simulator's log
echo "$QS_NET_PCNS $QS_NET_DEVNS $(dirname "$(readlink "/proc/$(ip netns pids "$QS_NET_DEVNS" | head -1)/fd/1")") $(ip netns pids "$QS_NET_DEVNS" | tr '\n' ' ')" >"$out"
sleep 1000 &   # a straggler that the network must reap
echo $! >>"$out.stragglers"
case "$1" in
  fail) exit 3 ;;
  hang) sleep 1000 ;;
  ok) exit 0 ;;
esac
EOS
chmod +x "$work/cmd.sh"

# alive PID: the process exists and is not a zombie waiting for init to reap it
alive() {
  local st
  st=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  st=${st##*) }
  [ "${st%% *}" != Z ]
}

# check NAME FILE: the namespaces and processes recorded in FILE are gone
check() {
  local name=$1 f=$2 pcns devns scratch pids p left=""
  [ -s "$f" ] || { bad "$name: the command did not run"; return; }
  read -r pcns devns scratch pids <"$f"
  ip netns list | awk '{print $1}' | grep -qx "$pcns" && left="$left namespace $pcns"
  ip netns list | awk '{print $1}' | grep -qx "$devns" && left="$left namespace $devns"
  for p in $pids $(cat "$f.stragglers" 2>/dev/null); do
    alive "$p" && left="$left process $p"
  done
  [ "$(host_links)" = "$links_before" ] || left="$left host links changed"
  ls "$QS_TESTNET_STATE"/*.net >/dev/null 2>&1 && left="$left state file"
  case "$scratch" in /tmp/qs-testnet.*) [ -e "$scratch" ] && left="$left folder $scratch" ;; *) left="$left (no scratch folder seen: $scratch)" ;; esac
  if [ -z "$left" ]; then ok "$name leaves nothing behind"; else bad "$name left:$left"; fi
}

# 1. a clean run passes its status through; the simulator stops cleanly
"$repo/testnet/run.sh" --keep-sim-log "$work/sim.log" --device "model=KV1R" -- "$work/cmd.sh" "$work/ok" ok; rc=$?
[ $rc = 0 ] && ok "clean run exits 0" || bad "clean run exited $rc"
check "clean run" "$work/ok"
grep -q "^devsim: 1 devices" "$work/sim.log" && grep -q "^devsim: stopping" "$work/sim.log" &&
  ok "the simulator took its device and stopped cleanly" || bad "simulator log: $(cat "$work/sim.log")"

# 1b. a network that cannot be built (a simulator that will not start) still leaves nothing
"$repo/testnet/run.sh" --device "model=KV1R colour=red" -- "$work/cmd.sh" "$work/nosim" ok 2>/dev/null &
pid=$!
wait $pid; rc=$?
[ -z "$(ip netns list | awk '{print $1}' | grep "^qs$pid")" ] && ok "no namespace of the failed start is left" ||
  bad "the failed start left a namespace"
[ $rc = 125 ] && ok "a simulator that refuses its devices gives 125" || bad "bad device settings: exit $rc"
[ ! -e "$work/nosim" ] && ok "the command did not run without a simulator" || bad "the command ran"
[ "$(host_links)" = "$links_before" ] && ! ls "$QS_TESTNET_STATE"/*.net >/dev/null 2>&1 &&
  ok "a failed start leaves nothing behind" || bad "a failed start left something"

# 2. a failing command
"$repo/testnet/run.sh" -- "$work/cmd.sh" "$work/fail" fail; rc=$?
[ $rc = 3 ] && ok "failing run passes status 3 through" || bad "failing run exited $rc"
check "failing run" "$work/fail"

# 3. a command that outlives its time
t0=$(date +%s)
"$repo/testnet/run.sh" --timeout 2 -- "$work/cmd.sh" "$work/hang" hang 2>/dev/null; rc=$?
t=$(( $(date +%s) - t0 ))
[ $rc = 124 ] && ok "timed-out run exits 124" || bad "timed-out run exited $rc"
[ $t -lt 15 ] && ok "timed-out run ends in $t s" || bad "timed-out run took $t s"
check "timed-out run" "$work/hang"

# 4. run.sh itself terminated by a signal
# (a background job of a script starts with SIGINT ignored: give it back)
for sig in TERM INT HUP; do
  env --default-signal=INT "$repo/testnet/run.sh" --timeout 60 -- "$work/cmd.sh" "$work/sig$sig" hang &
  pid=$!
  for _ in $(seq 1 100); do [ -s "$work/sig$sig" ] && break; sleep 0.1; done
  kill -"$sig" $pid
  wait $pid; rc=$?
  [ $rc -gt 128 ] && ok "SIG$sig: run.sh exits $rc" || bad "SIG$sig: run.sh exited $rc"
  check "run killed by SIG$sig" "$work/sig$sig"
done

# 5. run.sh killed outright: the next run (or sweep.sh) reaps what it left
"$repo/testnet/run.sh" --timeout 60 -- "$work/cmd.sh" "$work/kill" hang &
pid=$!
for _ in $(seq 1 100); do [ -s "$work/kill" ] && break; sleep 0.1; done
kill -KILL $pid
wait $pid 2>/dev/null
read -r pcns _ <"$work/kill"
ip netns list | awk '{print $1}' | grep -qx "$pcns" && ok "SIGKILL leaves the network until swept" ||
  bad "SIGKILL: the network vanished by itself (sweep untestable)"
"$repo/testnet/sweep.sh"
check "run killed by SIGKILL, then swept" "$work/kill"

# 6. a sweep never touches a live run's network
"$repo/testnet/run.sh" --timeout 60 -- "$work/cmd.sh" "$work/live" hang &
pid=$!
for _ in $(seq 1 100); do [ -s "$work/live" ] && break; sleep 0.1; done
"$repo/testnet/sweep.sh"
read -r pcns _ <"$work/live"
ip netns list | awk '{print $1}' | grep -qx "$pcns" && ok "sweep spares a live network" || bad "sweep removed a live network"
kill -TERM $pid; wait $pid
check "live run after sweep" "$work/live"

echo "$pass passed, $fail failed"
[ $fail = 0 ]
