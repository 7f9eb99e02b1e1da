# Sourced by the command-line test scripts, inside a test network: the
# simulator's control port on descriptor 3, sim (one control line) and field.
exec 3<>"/dev/tcp/$QS_NET_SIM/$QS_NET_SIM_PORT" || { echo "no simulator control port"; exit 1; }
sim() {  # one control line; its reply lines on stdout; status 0 on OK
  printf '%s\n' "$*" >&3
  local line
  while IFS= read -r -t 10 line <&3; do
    line=${line%$'\r'}
    case "$line" in
      OK) return 0 ;;
      ERR*) echo "$line" >&2; return 1 ;;
      *) echo "$line" ;;
    esac
  done
  return 1
}
field() { sim show "$1" | sed -n "s/^$2=//p"; }  # device, key: the value
