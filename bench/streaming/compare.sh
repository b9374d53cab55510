#!/usr/bin/env bash
# Side-by-side loopback comparison of `nerio-ts stream` and the peer senders available on Debian
# (tstools' tsplay, multicat with an ingests index, gst-launch-1.0 tsparse ! udpsink sync=true), each
# measured by `nerio-ts receive` on 127.0.0.1. Peers that are not installed are skipped.
#
#   bench/streaming/compare.sh [BUILD_DIR]
#   environment: RATES="10000000 65000000" CAPTURE=20 RUNS=3 SENDERS="nerio tsplay multicat gst"
#
# Figures per sender and rate, medians of RUNS captures of CAPTURE seconds: TS rate error (ppm), p99
# datagram gap against the ideal gap (10 528 bits / bitrate), the most datagrams in any 1 ms, CPU share of
# one core (utime + stime of the sender's session from /proc over the capture), datagrams that were not 7
# packets, continuity errors, PCR accuracy, and datagrams the receiving socket itself dropped (losses that
# are the measuring side's, not the sender's).
set -euo pipefail
BUILD_DIR=${1:-build}
export NERIO_BIN="$BUILD_DIR/bin"
export RATES=${RATES:-"10000000 65000000"}
export CAPTURE=${CAPTURE:-20}
export RUNS=${RUNS:-3}
export SENDERS=${SENDERS:-"nerio tsplay multicat gst"}
[ -x "$NERIO_BIN/nerio-ts" ] && [ -x "$NERIO_BIN/streaming_bench" ] || {
    echo "compare.sh: build nerio-ts and streaming_bench in $BUILD_DIR first" >&2
    exit 2
}
exec python3 - <<'EOF'
import json, os, shutil, signal, statistics, subprocess, sys, tempfile, time

bin_dir = os.environ["NERIO_BIN"]
rates = [int(r) for r in os.environ["RATES"].split()]
capture = float(os.environ["CAPTURE"])
runs = int(os.environ["RUNS"])
wanted = os.environ["SENDERS"].split()
work = tempfile.mkdtemp(prefix="nerio-compare-")
ticks = os.sysconf("SC_CLK_TCK")
PCR_PID = 256

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
                "--duration", str(capture + 8)]
    if name == "tsplay":
        return ["tsplay", path, dest, "-loop", "-quiet"]
    if name == "multicat":
        return ["multicat", "-U", path, dest]
    if name == "gst":
        return ["gst-launch-1.0", "-q", "filesrc", f"location={path}", "!", "tsparse", "set-timestamps=true",
                "alignment=7", "!", "udpsink", "host=127.0.0.1", f"port={port}", "sync=true"]
    raise ValueError(name)

def available(name):
    tool = {"nerio": None, "tsplay": "tsplay", "multicat": "multicat", "gst": "gst-launch-1.0"}[name]
    if tool is None:
        return True
    if shutil.which(tool) is None:
        return False
    return name != "multicat" or shutil.which("ingests") is not None

def one_run(name, path, rate, port):
    receiver = subprocess.Popen([f"{bin_dir}/nerio-ts", "receive", "--listen", f"127.0.0.1:{port}",
                                 "--seconds", str(capture), "--json"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    receiver.stderr.readline()  # "listening on ..."
    sender_log = open(os.path.join(work, "sender.log"), "w+")
    sender = subprocess.Popen(sender_command(name, path, rate, port), stdout=subprocess.DEVNULL,
                              stderr=sender_log, start_new_session=True)
    try:
        time.sleep(2)
        c0, t0 = session_cpu(sender.pid), time.monotonic()
        time.sleep(capture - 3)
        c1, t1 = session_cpu(sender.pid), time.monotonic()
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
    r = json.loads(out)
    ideal_gap_us = 10528 / rate * 1e6
    return {
        "ppm": (r["bitrate"] - rate) / rate * 1e6,
        "p99": r["gap_p99_us"] / ideal_gap_us,
        "permsec": r["max_datagrams_per_ms"],
        "cpu": (c1 - c0) / (t1 - t0) * 100,
        "partial": r["partial_datagrams"],
        "cc": r["cc_errors"],
        "acc": r["pcr_accuracy_ns"],
        "drops": r.get("receiver_drops", 0),
        "stalls": stalls if stalls is not None else float("nan"),
    }

# A CBR file per rate, long enough for senders that do not loop; an ingests index for multicat.
files = {}
for rate in rates:
    path = os.path.join(work, f"cbr_{rate}.ts")
    subprocess.run([f"{bin_dir}/streaming_bench", "make-file", path, "--bitrate", str(rate), "--seconds",
                    str(int(capture + 12))], check=True, stdout=subprocess.DEVNULL)
    if "multicat" in wanted and available("multicat"):
        subprocess.run(["ingests", "-p", str(PCR_PID), path], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    files[rate] = path

rows = []
port = 5700 + os.getpid() % 500
for rate in rates:
    for name in wanted:
        if not available(name):
            print(f"{name}: not installed, skipped", file=sys.stderr)
            continue
        results = []
        for run in range(runs):
            port += 1
            r = one_run(name, files[rate], rate, port)
            print(f"{name} {rate / 1e6:g} Mbit/s run {run + 1}: {r}", file=sys.stderr)
            if r:
                results.append(r)
        if not results:
            rows.append((name, rate, None))
            continue
        med = {k: statistics.median(x[k] for x in results) if k != "stalls" else
               (statistics.median(x[k] for x in results) if name == "nerio" else float("nan"))
               for k in results[0]}
        rows.append((name, rate, med))

print(f"{'sender':10} {'Mbit/s':>6} {'rate ppm':>9} {'p99 gap':>8} {'max/1ms':>8} {'CPU %':>6} "
      f"{'partial':>8} {'CC err':>7} {'PCR acc ns':>10} {'stalls':>6} {'rx drops':>8}")
for name, rate, m in rows:
    if m is None:
        print(f"{name:10} {rate / 1e6:6g}  no datagrams received")
        continue
    print(f"{name:10} {rate / 1e6:6g} {m['ppm']:9.1f} {m['p99']:7.2f}x {m['permsec']:8g} {m['cpu']:6.1f} "
          f"{m['partial']:8g} {m['cc']:7g} {m['acc']:10.0f} {m['stalls']:6g} {m['drops']:8g}")
print(f"(medians of {runs} runs of {capture:g} s; p99 gap as a multiple of the ideal gap)")
shutil.rmtree(work, ignore_errors=True)
EOF
