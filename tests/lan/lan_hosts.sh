# Two hosts on one machine, for tests of what happens on a home network.
#
# Host A and host B are network namespaces joined by a veth pair (vA, vB) with link-local
# addresses, so nothing they send leaves the machine. Each host has a private /run (its own mount
# namespace) holding its own system bus and its own avahi-daemon (host name A or B, IPv4 only,
# on its veth alone, no workstation record, no static services), so that libavahi-client,
# avahi-browse, avahi-publish and nss-mdns (A.local) behave there as on two machines.
#
#   . tests/lan/lan_hosts.sh
#   lan_require                 # exit 77 with one line saying why, unless this can run
#   lan_up                      # makes A and B; lan_down runs on exit, whatever happens
#   lan_run A CMD ARGS...       # runs CMD inside host A (its network and its /run)
#   lan_bg A CMD ARGS... >LOG   # the same in the background; LAN_PID is CMD's own process
#   lan_avahi_stop A | lan_avahi_start A | lan_avahi_restart A
#   lan_wait SECONDS CMD ARGS...  # runs CMD (a function too) until it succeeds; fails after SECONDS
#   lan_down                    # kills every process in both hosts, deletes the namespaces
#
# After lan_up: LAN_A_ADDR and LAN_B_ADDR (169.254.77.1 and .2), LAN_A_IF and LAN_B_IF (vA, vB),
# and LAN_DIR, a scratch folder seen by both hosts and removed by lan_down. Names carry the
# test's process id, so tests run in parallel without meeting; namespaces that a killed test
# left behind are removed by the next lan_up.
#
# lan_up traps EXIT, INT and TERM: a test with cleaning of its own calls lan_down from its own
# EXIT trap. Worth knowing inside the hosts:
# - The veths keep their IPv6 link-local addresses, and avahi publishes them (AAAA) over IPv4 as
#   well: resolving A.local through avahi without asking for IPv4 (AVAHI_PROTO_INET) may give
#   fe80::..., which a service listening on IPv4 alone does not answer. A one-shot query gets A
#   and AAAA; the first query after an announcement may be answered with the PTR alone.
# - A command started with lan_bg ignores SIGINT (bash's rule for background commands without
#   job control): stop it with SIGTERM.
# - Abstract Unix sockets belong to a network namespace: an X server, session bus or
#   accessibility bus that a program in a host must reach is started in that host (lan_bg), or
#   listens on a path socket.
#
# Needs root, `ip netns`, nsenter and unshare, dbus-daemon and avahi-daemon (packages iproute2,
# util-linux, dbus, avahi-daemon, avahi-utils, libnss-mdns).

LAN_A_ADDR=169.254.77.1
LAN_B_ADDR=169.254.77.2
LAN_A_IF=vA
LAN_B_IF=vB
LAN_DIR=
LAN_PID=
_lan_prefix=tessel-lan-
_lan_id=$$
_lan_keeper_A=
_lan_keeper_B=

lan_skip() {
  echo "SKIP: $*"
  exit 77
}

lan_require() {
  [ "$(id -u)" = 0 ] || lan_skip "the LAN tests need root (network namespaces, a system bus each)"
  local tool
  for tool in ip nsenter unshare dbus-daemon avahi-daemon avahi-browse; do
    command -v "$tool" >/dev/null 2>&1 || PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null 2>&1 ||
      lan_skip "the LAN tests need $tool (packages iproute2, util-linux, dbus, avahi-daemon, avahi-utils)"
  done
  export PATH=$PATH:/usr/sbin:/sbin
  local probe=${_lan_prefix}probe-$$
  ip netns add "$probe" 2>/dev/null || lan_skip "network namespaces cannot be made here (ip netns add failed)"
  ip netns del "$probe"
}

# Namespaces of earlier runs whose test process is gone.
_lan_remove_stale() {
  local ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case $ns in "$_lan_prefix"[0-9]*-[AB]) ;; *) continue ;; esac
    pid=${ns#"$_lan_prefix"}
    pid=${pid%-*}
    kill -0 "$pid" 2>/dev/null && continue
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
    ip netns del "$ns" 2>/dev/null
  done
}

_lan_ns() { echo "$_lan_prefix$_lan_id-$1"; }

_lan_keeper() {
  case $1 in
    A) echo "$_lan_keeper_A" ;;
    B) echo "$_lan_keeper_B" ;;
    *) echo "lan_hosts: no host $1 (A or B)" >&2; return 1 ;;
  esac
}

# One host: its namespace's processes live under a keeper (sleep) in a mount namespace whose /run
# is its own; its system bus starts there, then avahi-daemon.
_lan_host_up() {
  local host=$1 interface=$2 ns
  ns=$(_lan_ns "$host")
  cat >"$LAN_DIR/avahi-$host.conf" <<EOF
[server]
host-name=$host
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
EOF
  ip netns exec "$ns" unshare -m --propagation private sh -c '
    mount -t tmpfs tmpfs /run &&
    mount -t tmpfs tmpfs /etc/avahi/services &&
    mkdir -p /run/dbus /run/avahi-daemon &&
    chown messagebus: /run/dbus &&
    dbus-daemon --system --fork --nopidfile &&
    touch "$1" &&
    exec sleep infinity' lan-keeper "$LAN_DIR/ready-$host" >>"$LAN_DIR/host-$host.log" 2>&1 &
  local keeper=$!
  local tries=0
  while [ ! -e "$LAN_DIR/ready-$host" ]; do
    kill -0 "$keeper" 2>/dev/null || { echo "lan_hosts: host $host did not start:"; cat "$LAN_DIR/host-$host.log"; return 1; } >&2
    tries=$((tries + 1))
    [ "$tries" -lt $((100 * ${WAIT_SCALE:-1})) ] || { echo "lan_hosts: host $host did not start in time" >&2; return 1; }
    sleep 0.1
  done
  case $host in A) _lan_keeper_A=$keeper ;; B) _lan_keeper_B=$keeper ;; esac
  lan_wait 10 lan_run "$host" test -S /run/dbus/system_bus_socket ||
    { echo "lan_hosts: host $host has no system bus" >&2; return 1; }
  lan_avahi_start "$host"
}

lan_up() {
  _lan_remove_stale
  LAN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tessel-lan.XXXXXX") || return 1
  chmod 755 "$LAN_DIR"
  trap lan_down EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  local a b
  a=$(_lan_ns A)
  b=$(_lan_ns B)
  ip netns add "$a" && ip netns add "$b" &&
    ip link add "$LAN_A_IF" netns "$a" type veth peer name "$LAN_B_IF" netns "$b" &&
    ip -n "$a" addr add "$LAN_A_ADDR/16" dev "$LAN_A_IF" &&
    ip -n "$b" addr add "$LAN_B_ADDR/16" dev "$LAN_B_IF" &&
    ip -n "$a" link set lo up && ip -n "$a" link set "$LAN_A_IF" up &&
    ip -n "$b" link set lo up && ip -n "$b" link set "$LAN_B_IF" up ||
    { echo "lan_hosts: cannot make the namespaces and their link" >&2; return 1; }
  _lan_host_up A "$LAN_A_IF" && _lan_host_up B "$LAN_B_IF"
}

lan_run() {
  local keeper
  keeper=$(_lan_keeper "$1") || return 1
  [ -n "$keeper" ] || { echo "lan_hosts: host $1 is not up" >&2; return 1; }
  shift
  # -r and -w: the keeper's root and folder, which inside a chroot (the Windows tests' guest) are
  # not the root of its mount namespace.
  nsenter -t "$keeper" -n -m -r -w -- "$@"
}

# In the background: LAN_PID (and $!) is CMD's own process, for kill and wait.
lan_bg() {
  local keeper
  keeper=$(_lan_keeper "$1") || return 1
  [ -n "$keeper" ] || { echo "lan_hosts: host $1 is not up" >&2; return 1; }
  shift
  nsenter -t "$keeper" -n -m -r -w -- "$@" &
  LAN_PID=$!
}

lan_wait() {
  local end=$(($(date +%s%N) / 1000000 + $1 * 1000 * ${WAIT_SCALE:-1}))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $(($(date +%s%N) / 1000000)) -lt "$end" ] || return 1
    sleep 0.1
  done
}

lan_avahi_start() {
  lan_run "$1" avahi-daemon --no-chroot --no-drop-root -f "$LAN_DIR/avahi-$1.conf" -D \
    >>"$LAN_DIR/host-$1.log" 2>&1 || { echo "lan_hosts: avahi-daemon did not start on $1" >&2; return 1; }
  # Running once its name is on the host's bus.
  lan_wait 10 lan_run "$1" avahi-daemon -c && lan_wait 10 _lan_avahi_on_bus "$1" ||
    { echo "lan_hosts: avahi-daemon on $1 is not answering" >&2; return 1; }
}

_lan_avahi_on_bus() {
  lan_run "$1" dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Avahi | grep -q 'boolean true'
}

lan_avahi_stop() {
  lan_run "$1" avahi-daemon -k >/dev/null 2>&1
  lan_wait 10 _lan_avahi_gone "$1" || { echo "lan_hosts: avahi-daemon on $1 does not stop" >&2; return 1; }
}

_lan_avahi_gone() { ! lan_run "$1" avahi-daemon -c; }

lan_avahi_restart() {
  lan_avahi_stop "$1" && lan_avahi_start "$1"
}

lan_down() {
  local host ns
  for host in A B; do
    ns=$(_lan_ns "$host")
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns" || continue
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -TERM 2>/dev/null
  done
  sleep 0.2
  for host in A B; do
    ns=$(_lan_ns "$host")
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$ns" || continue
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
    ip netns del "$ns" 2>/dev/null
  done
  _lan_keeper_A=
  _lan_keeper_B=
  [ -n "$LAN_DIR" ] && rm -rf "$LAN_DIR"
  LAN_DIR=
}
