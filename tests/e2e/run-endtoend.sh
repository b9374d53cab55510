#!/usr/bin/env bash
# End to end: the main window in network namespace "app" drives nerio-emulator in namespace "device",
# joined by a veth pair; once over the serial link (a pseudo-terminal, shared by both namespaces) and
# once over telnet, the modulator found by discovery. Multicast and broadcast stay inside the two
# namespaces.
# Exit 77 (reported as skipped) when namespaces cannot be made or a tool is missing.
#
# usage: run-endtoend.sh <tst_endtoend> <nerio-emulator>
set -uo pipefail

test_program=$(realpath "${1:?test program}")
emulator=$(realpath "${2:?nerio-emulator}")
skip() { echo "SKIPPED: $*"; exit 77; }

[ "$(id -u)" = 0 ] || skip "creating network namespaces needs root (uid $(id -u))"
command -v ffmpeg >/dev/null || skip "ffmpeg is not installed (scripts/setup installs it)"

run_id="$$-$RANDOM"
app="nerio-app-$run_id"
device="nerio-dev-$run_id"
work=$(mktemp -d /tmp/nerio-e2e.XXXXXX)
emulator_pid=""

cleanup() {
    if [ -n "$emulator_pid" ]; then
        kill "$emulator_pid" 2>/dev/null
        wait "$emulator_pid" 2>/dev/null
    fi
    ip netns del "$app" 2>/dev/null
    ip netns del "$device" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! err=$(ip netns add "$app" 2>&1); then # also when iproute2 is missing
    skip "cannot create a network namespace: $err"
fi
ip netns add "$device" || { echo "FAIL: second namespace"; exit 1; }
set -e
ip -n "$app" link add veth-app type veth peer name veth-dev netns "$device"
ip -n "$app" addr add 10.77.0.1/24 dev veth-app
ip -n "$device" addr add 10.77.0.2/24 dev veth-dev
for ns in "$app" "$device"; do ip -n "$ns" link set lo up; done
ip -n "$app" link set veth-app up
ip -n "$device" link set veth-dev up
# Multicast, and the discovery broadcast, leave each namespace only through the veth pair.
ip -n "$app" route add 224.0.0.0/4 dev veth-app
ip -n "$device" route add 224.0.0.0/4 dev veth-dev
ip -n "$app" route add 255.255.255.255/32 dev veth-app
set +e

# A constant-bitrate stream: 4 Mbit/s multiplex, MPEG-2 video and MPEG-1 layer II audio, 40 s.
ts="$work/cbr.ts"
if ! ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=352x288:rate=25" \
    -f lavfi -i "sine=frequency=1000:sample_rate=48000" -t 40 \
    -c:v mpeg2video -b:v 2500k -minrate 2500k -maxrate 2500k -bufsize 1000k -c:a mp2 -b:a 128k \
    -f mpegts -muxrate 4000000 -metadata service_name="Nerio E2E" -metadata service_provider="Nerio" "$ts"; then
    echo "FAIL: ffmpeg could not make the test stream"
    exit 1
fi

# The device starts from a parameter set of the test's own, so the readings can only come from it.
cat >"$work/device.json" <<'JSON'
{"codeRate": "3/4", "guardInterval": "1/16", "ipMulticastAddress": "239.77.0.9", "ipPort": 1234}
JSON

# The emulator answers on a pseudo-terminal, on telnet 10.77.0.2:23 and to discovery; its IP input
# listens on the device's veth address.
ip netns exec "$device" "$emulator" --serial --telnet 23 --bind 10.77.0.2 --unicast-address 10.77.0.2 --discovery \
    --state "$work/device.json" --log "$work/wire.log" >"$work/emulator.out" 2>"$work/emulator.err" &
emulator_pid=$!
for _ in $(seq 1 100); do
    grep -q '^ready' "$work/emulator.out" 2>/dev/null && break
    kill -0 "$emulator_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q '^ready' "$work/emulator.out"; then
    echo "FAIL: the emulator did not start"; cat "$work/emulator.out" "$work/emulator.err"
    exit 1
fi
serial=$(sed -n 's/^serial: //p' "$work/emulator.out" | head -n1)

runtime="$work/xdg"
mkdir -m 700 "$runtime"
status=0
for route in serial telnet; do
    echo "== route: $route"
    if [ "$route" = serial ]; then link=(E2E_SERIAL="$serial"); else link=(E2E_TELNET=10.77.0.2); fi
    (cd "$work" && ip netns exec "$app" env "${link[@]}" E2E_STATE="$work/device.json" E2E_TS="$ts" \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" timeout 150 "$test_program") || status=1
done
if [ "$status" != 0 ]; then
    echo "== emulator stderr"; tail -n 40 "$work/emulator.err"
    echo "== wire log (tail)"; tail -n 30 "$work/wire.log"
fi
exit "$status"
