#!/usr/bin/env bash
# Starts (start STATE) or stops (stop STATE) the services the disk-image tool needs for its tests: a
# private system bus of our own, systemd-udevd when none answers, and udisksd on that bus. The
# bus address goes to STATE/address; when the services cannot run here, the reason goes to
# STATE/skip and the tests skip with it. Only processes started here are stopped, by their ids.
set -uo pipefail

action=${1:?start or stop}
state=${2:?state folder}

skip() {
  echo "$*" > "$state/skip"
  echo "disk-image services: skipping: $*"
  exit 0
}

# Whether the process runs (an exited one that nobody has reaped yet does not).
running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

stop_pid() {
  local file=$1
  [ -f "$file" ] || return 0
  local pid
  pid=$(cat "$file")
  if [ -n "$pid" ] && running "$pid"; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    running "$pid" && kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$file"
}

if [ "$action" = stop ]; then
  stop_pid "$state/udisksd.pid"
  stop_pid "$state/udevd.pid"
  stop_pid "$state/dbus.pid"
  exit 0
fi

rm -rf "$state"
mkdir -p "$state"
[ "$(id -u)" -eq 0 ] || skip "attaching disk images through udisks2 needs root here"
[ -w /dev/loop-control ] || skip "no loop devices in this system (/dev/loop-control)"
udisksd=/usr/libexec/udisks2/udisksd
[ -x "$udisksd" ] || skip "udisks2 is not installed ($udisksd)"
command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 is not installed (e2fsprogs)"

cat > "$state/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$state/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/><allow user="*"/></policy></busconfig>
CONF
dbus-daemon --config-file="$state/bus.conf" --nofork --nopidfile --print-address=1 \
  > "$state/address.raw" 2> "$state/dbus.log" &
echo $! > "$state/dbus.pid"
for _ in $(seq 100); do [ -s "$state/address.raw" ] && break; sleep 0.1; done
[ -s "$state/address.raw" ] || skip "the private system bus did not start: $(tail -1 "$state/dbus.log")"
address=$(head -1 "$state/address.raw")

if ! udevadm control --ping >/dev/null 2>&1; then
  udevd=$(command -v systemd-udevd || echo /lib/systemd/systemd-udevd)
  [ -x "$udevd" ] || skip "no device manager answers and systemd-udevd is not installed"
  "$udevd" > "$state/udevd.log" 2>&1 &
  echo $! > "$state/udevd.pid"
  for _ in $(seq 50); do udevadm control --ping >/dev/null 2>&1 && break; sleep 0.1; done
  udevadm control --ping >/dev/null 2>&1 || skip "systemd-udevd did not start: $(tail -1 "$state/udevd.log")"
fi

DBUS_SYSTEM_BUS_ADDRESS=$address "$udisksd" > "$state/udisksd.log" 2>&1 &
echo $! > "$state/udisksd.pid"
for _ in $(seq 100); do
  if DBUS_SYSTEM_BUS_ADDRESS=$address busctl --system status org.freedesktop.UDisks2 >/dev/null 2>&1; then
    echo "$address" > "$state/address"
    echo "disk-image services: udisksd on $address"
    exit 0
  fi
  sleep 0.2
done
skip "udisksd did not come up on the private bus: $(tail -1 "$state/udisksd.log")"
