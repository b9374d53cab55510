#!/usr/bin/env bash
# Interleaved loopback comparison of `nerio-ts stream` and the peer senders available on Debian
# (tstools' tsplay, multicat with an ingests index, gst-launch-1.0 tsparse ! udpsink sync=true), each
# measured by a kernel-timestamping receiver (`streaming_bench receive`) on 127.0.0.1. Peers that are not
# installed are skipped. One run proves nothing on a shared machine: the senders take turns, RUNS rounds
# per rate (the order rotating each round), and every run gets its own row.
#
#   bench/streaming/compare.sh [BUILD_DIR]
#   environment: RATES="10000000 65000000" CAPTURE=20 RUNS=10 SENDERS="nerio tsplay"
#                NERIO_ARGS="..." (extra nerio-ts stream options)  KEEP=DIR (keep each run's receiver
#                JSON and arrival trace there)
#
# Per run: p99 datagram gap against the ideal gap (10 528 bits / bitrate), the most datagrams in any 1 ms,
# PCR arrival error p99 (arrival against the least-squares line over PCR value), the worst MDI delay
# factor of any second (RFC 4445, against the nominal rate), TS rate error (ppm), CPU share of one core
# (utime + stime of the sender's session from /proc over the capture), stalls nerio-ts counted (peers do
# not say), the 1-minute load average when the run began, and the share of the capture in which some task
# on the machine waited for a CPU (/proc/pressure/cpu: a run disturbed from outside shows there). Then per
# sender the worst run and how many runs kept p99 <= 1.15x and <= 1.25x; and `streaming_bench wake-cost` at
# each rate's datagram period (one sleep per datagram and nothing else), measured in the same session as the
# floor of the CPU column.
set -euo pipefail
BUILD_DIR=${1:-build}
export NERIO_BIN="$BUILD_DIR/bin"
export RATES=${RATES:-"10000000 65000000"}
export CAPTURE=${CAPTURE:-20}
export RUNS=${RUNS:-10}
export SENDERS=${SENDERS:-"nerio tsplay"}
export NERIO_ARGS=${NERIO_ARGS:-}
export KEEP=${KEEP:-}
[ -x "$NERIO_BIN/nerio-ts" ] && [ -x "$NERIO_BIN/streaming_bench" ] || {
    echo "compare.sh: build nerio-ts and streaming_bench in $BUILD_DIR first" >&2
    exit 2
}
exec python3 - <<'EOF'
import json, os, shutil, signal, subprocess, sys, tempfile, time

bin_dir = os.environ["NERIO_BIN"]
rates = [int(r) for r in os.environ["RATES"].split()]
capture = float(os.environ["CAPTURE"])
runs = int(os.environ["RUNS"])
wanted = os.environ["SENDERS"].split()
nerio_args = os.environ["NERIO_ARGS"].split()
keep = os.environ["KEEP"]
work = tempfile.mkdtemp(prefix="nerio-compare-")
if keep:
    os.makedirs(keep, exist_ok=True)
ticks = os.sysconf("SC_CLK_TCK")
PCR_PID = 256
DATAGRAM_BITS = 7 * 188 * 8

def load():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])

def cpu_waited():
    """Seconds in which some runnable task waited for a CPU (pressure stall information), or None."""
    try:
        with open("/proc/pressure/cpu") as f:
            return int(f.readline().split("total=")[1]) / 1e6
    except (OSError, IndexError, ValueError):
        return None

def session_cpu(sid):
    """utime + stime in seconds of every live process of the session."""
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[3]) == sid:
            total += int(fields[11]) + int(fields[12])
    return total / ticks

def sender_command(name, path, rate, port):
    dest = f"127.0.0.1:{port}"
    if name == "nerio":
        return [f"{bin_dir}/nerio-ts", "stream", path, "--dest", dest, "--bitrate", str(rate), "--loop",
                "--duration", str(capture + 8)] + nerio_args
    if name == "tsplay":
        return ["tsplay", path, dest, "-loop", "-quiet"]
    if name == "multicat":
        return ["multicat", "-U", path, dest]
    if name == "gst":
        return ["gst-launch-1.0", "-q", "filesrc", f"location={path}", "!", "tsparse", "set-timestamps=true",
                "alignment=7", "!", "udpsink", "host=127.0.0.1", f"port={port}", "sync=true"]
    raise ValueError(name)

def available(name):
    tool = {"nerio": None, "tsplay": "tsplay", "multicat": "multicat", "gst": "gst-launch-1.0"}.get(name, "")
    if tool is None:
        return True
    if not tool or shutil.which(tool) is None:
        return False
    return name != "multicat" or shutil.which("ingests") is not None

def one_run(name, path, rate, port, label):
    trace = os.path.join(keep, f"{label}.trace") if keep else ""
    receiver = subprocess.Popen([f"{bin_dir}/streaming_bench", "receive", "--listen", f"127.0.0.1:{port}",
                                 "--bitrate", str(rate), "--seconds", str(capture)] + (["--trace", trace] if trace else []),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    receiver.stderr.readline()  # "listening on ..."
    load_before = load()
    sender_log = open(os.path.join(work, "sender.log"), "w+")
    sender = subprocess.Popen(sender_command(name, path, rate, port), stdout=subprocess.DEVNULL,
                              stderr=sender_log, start_new_session=True)
    try:
        time.sleep(2)
        c0, w0, t0 = session_cpu(sender.pid), cpu_waited(), time.monotonic()
        time.sleep(capture - 3)
        c1, w1, t1 = session_cpu(sender.pid), cpu_waited(), time.monotonic()
        out, _ = receiver.communicate(timeout=capture + 60)
    finally:
        if sender.poll() is None:
            os.killpg(sender.pid, signal.SIGINT)
            try:
                sender.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(sender.pid, signal.SIGKILL)
                sender.wait()
    # nerio-ts counts the stalls it made up (its summary line); the peers do not say.
    sender_log.seek(0)
    stalls = None
    for line in sender_log.read().splitlines():
        if " stalls, " in line:
            stalls = int(line.split(" stalls, ")[0].rsplit(" ", 1)[1])
    sender_log.close()
    if receiver.returncode != 0 or not out.strip():
        return None
    if keep:
        with open(os.path.join(keep, f"{label}.json"), "w") as f:
            f.write(out)
    r = json.loads(out)
    ideal_gap_us = DATAGRAM_BITS / rate * 1e6
    return {
        "p99": r["gap_p99_us"] / ideal_gap_us,
        "permsec": r["max_datagrams_per_ms"],
        "pcr_err": r["pcr_arrival_error_p99_us"] / 1000,
        "df": r["mdi_df_ms"],
        "ppm": (r["bitrate"] - rate) / rate * 1e6,
        "cpu": (c1 - c0) / (t1 - t0) * 100,
        "stalls": stalls,
        "max_gap": r["gap_max_us"] / 1000,
        "partial": r["partial_datagrams"],
        "cc": r["cc_errors"],
        "drops": r.get("receiver_drops", 0),
        "load": load_before,
        "waited": None if w0 is None or w1 is None else (w1 - w0) / (t1 - t0) * 100,
    }

def wake_cost(rate):
    out = subprocess.run([f"{bin_dir}/streaming_bench", "wake-cost", "--bitrate", str(rate), "--seconds", "10"],
                         check=True, capture_output=True, text=True).stdout.strip()
    return out

senders = [n for n in wanted if available(n)]
for name in wanted:
    if name not in senders:
        print(f"{name}: not installed, skipped", file=sys.stderr)

# A CBR file per rate, long enough for senders that do not loop; an ingests index for multicat.
files = {}
for rate in rates:
    path = os.path.join(work, f"cbr_{rate}.ts")
    subprocess.run([f"{bin_dir}/streaming_bench", "make-file", path, "--bitrate", str(rate), "--seconds",
                    str(int(capture + 12))], check=True, stdout=subprocess.DEVNULL)
    if "multicat" in senders:
        subprocess.run(["ingests", "-p", str(PCR_PID), path], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    files[rate] = path

floors = {rate: [wake_cost(rate)] for rate in rates}
results = {}
port = 5700 + os.getpid() % 500
for rate in rates:
    for run in range(runs):
        order = senders[run % len(senders):] + senders[:run % len(senders)]
        for name in order:
            port += 1
            label = f"{name}-{rate // 1000000}M-{run + 1}"
            r = one_run(name, files[rate], rate, port, label)
            print(f"{label}: {r}", file=sys.stderr)
            results.setdefault((rate, name), []).append((run + 1, r))
    floors[rate].append(wake_cost(rate))

def cell(v, fmt):
    return "-" if v is None else format(v, fmt)

print(f"{'sender':9} {'Mbit/s':>6} {'run':>3} {'p99 gap':>8} {'max/1ms':>7} {'PCR err p99 ms':>14} {'MDI-DF ms':>9} "
      f"{'rate ppm':>8} {'CPU %':>6} {'stalls':>6} {'max gap ms':>10} {'load':>5} {'CPU wait %':>10}")
for rate in rates:
    for name in senders:
        for run, r in results[(rate, name)]:
            if r is None:
                print(f"{name:9} {rate / 1e6:6g} {run:3}  no datagrams received")
                continue
            print(f"{name:9} {rate / 1e6:6g} {run:3} {r['p99']:7.2f}x {r['permsec']:7g} {r['pcr_err']:14.2f} "
                  f"{r['df']:9.2f} {r['ppm']:8.1f} {r['cpu']:6.1f} {cell(r['stalls'], '6d'):>6} "
                  f"{r['max_gap']:10.2f} {r['load']:5.2f} {cell(r['waited'], '10.1f'):>10}")
print()
print("worst run per sender (and runs with p99 gap within 1.15x / 1.25x of the ideal):")
for rate in rates:
    for name in senders:
        ok = [r for _, r in results[(rate, name)] if r]
        if not ok:
            continue
        print(f"{name:9} {rate / 1e6:6g}: p99 {max(r['p99'] for r in ok):.2f}x, max/1ms {max(r['permsec'] for r in ok)}, "
              f"PCR err p99 {max(r['pcr_err'] for r in ok):.2f} ms, MDI-DF {max(r['df'] for r in ok):.2f} ms, "
              f"|rate| {max(abs(r['ppm']) for r in ok):.1f} ppm, CPU {max(r['cpu'] for r in ok):.1f} %; "
              f"{sum(r['p99'] <= 1.15 for r in ok)}/{len(ok)} <= 1.15x, {sum(r['p99'] <= 1.25 for r in ok)}/{len(ok)} <= 1.25x, "
              f"{sum((r['partial'] or 0) + (r['cc'] or 0) for r in ok)} partial datagrams + CC errors, "
              f"{sum(r['drops'] for r in ok)} receiver drops")
print()
print("CPU floor, before and after the runs:")
for rate in rates:
    for line in floors[rate]:
        print(f"  {line}")
print(f"({runs} rounds of {capture:g} s per rate; p99 gap as a multiple of the ideal gap; load = 1-minute load "
      f"average at the start of the run; CPU wait = share of the capture in which some task waited for a CPU)")
shutil.rmtree(work, ignore_errors=True)
EOF
