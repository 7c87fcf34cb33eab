#!/usr/bin/env python3
"""Costs of baseconv, each measured beside a peer in the same run.

  keys     bytes and write calls reaching the terminal per typed character, at
           the end and in the middle of a line, beside GNU readline behind the
           same prompt on a pseudo-terminal of the same size
  passes   scripted conversion passes per second through pipes, beside bc
           converting the same pairs in one process (obase=B, then N); the
           digits of both must be the same
  echo     time from a typed key to its echo, median and 99th percentile over
           keys typed with random gaps, beside the same readline program
  answer   time from the Enter after the base to the answer line, beside bc
           answering the same number on a pseudo-terminal
  startup  time from start to the first prompt and peak resident memory,
           beside bc's time to its first answer and its peak, in alternating
           runs
  idle     CPU time and wake-ups while waiting at a prompt and at "<Esc> for
           exit", in rounds, beside two bare poll loops of the same period
           and the same loop waiting on its terminal input, all started
           afresh on one processor in each round and measured over the same
           seconds

Usage: measure.py BASECONV READLINE_PEER POLL_PEER [--passes N] [--seed S] [--rounds R] [--idle SECONDS]
                  [--idle-rounds N] [--keys N] [--answers N] [--starts N] [--only MEASURE,...]
Prints a Markdown table on standard output; progress goes to standard error.
"""
import argparse
import fcntl
import os
import random
import re
import select
import shutil
import signal
import statistics
import struct
import sys
import termios
import time

COLS, ROWS = 80, 25
MAX_VALUE = 999999999999999
BC_MAX_BASE = 2147483647  # bc's obase limit
FIRST_PROMPT = b"Decimal number  (max. 999999999999999)? "
# On a terminal, blanks may be sent as cursor moves: the parts to look for.
PROMPT_END = b"999999999999999)?"
EXIT_HINT_END = b"exit"
EXIT_HINT_LINE = b"<Esc> for exit\r\n"
ESC = b"\x1b"
# Primary device attributes as a terminal without the kitty keyboard protocol
# answers them; the program asks at start-up.
DEVICE_ATTRIBUTES_QUERY = b"\x1b[c"
DEVICE_ATTRIBUTES_REPLY = b"\x1b[?62;22c"
QUIET = 0.15  # seconds without output after which a key's echo is complete


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# --- Processes on a pseudo-terminal ---------------------------------------------


class PtyProgram:
    def __init__(self, argv):
        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLS, 0, 0))
        self.pid = os.posix_spawn(
            argv[0],
            argv,
            {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TERM": "xterm-256color"},
            file_actions=[
                (os.POSIX_SPAWN_DUP2, slave, 0),
                (os.POSIX_SPAWN_DUP2, slave, 1),
                (os.POSIX_SPAWN_DUP2, slave, 2),
            ],
            setsid=True,
        )
        os.close(slave)
        self.seen = b""

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return b""
        try:
            data = os.read(self.master, 65536)
        except OSError:
            return b""
        if DEVICE_ATTRIBUTES_QUERY in data:
            os.write(self.master, DEVICE_ATTRIBUTES_REPLY)
        self.seen += data
        return data

    def read_until(self, marker, timeout=5.0):
        """Reads until `marker` (bytes or a pattern) has come; what came after
        it stays for the next look."""
        deadline = time.monotonic() + timeout
        while True:
            if isinstance(marker, re.Pattern):
                found = marker.search(self.seen)
                end = found.end() if found else -1
            else:
                at = self.seen.find(marker)
                end = at + len(marker) if at >= 0 else -1
            if end >= 0:
                self.seen = self.seen[end:]
                return
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError(f"no {marker!r} from pid {self.pid}; saw {self.seen[-200:]!r}")
            self._read(left)

    def settle(self, first_timeout=2.0):
        """Everything the last input caused: up to the first byte, then until quiet."""
        got = self._read(first_timeout)
        while True:
            more = self._read(QUIET)
            if not more:
                return got
            got += more

    def type(self, data):
        os.write(self.master, data)

    def writes(self):
        with open(f"/proc/{self.pid}/io") as f:
            for line in f:
                if line.startswith("syscw:"):
                    return int(line.split()[1])
        raise RuntimeError("no syscw")

    def scheduler_counts(self):
        """CPU seconds and context switches (each a wake-up or a preemption)
        of every thread, from the scheduler's own accounting."""
        cpu, switches = 0.0, 0
        for task in os.listdir(f"/proc/{self.pid}/task"):
            try:
                with open(f"/proc/{self.pid}/task/{task}/sched") as f:
                    for line in f:
                        if line.startswith("se.sum_exec_runtime"):
                            cpu += float(line.split(":")[1]) / 1000.0
                        elif line.startswith("nr_switches"):
                            switches += int(line.split(":")[1])
            except FileNotFoundError:
                pass
        return cpu, switches

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        os.close(self.master)


def key_costs(argv, label, chars=10, left=b"\x1b[D"):
    """Bytes and write calls per typed digit at the end of a line, then with
    five characters after the cursor."""
    p = PtyProgram(argv)
    try:
        p.read_until(PROMPT_END)
        p.settle(0.3)
        for ch in b"12345":
            p.type(bytes([ch]))
            p.settle()
        results = {}
        for place in ("end", "middle"):
            if place == "middle":
                for _ in range(5):
                    p.type(left)
                    p.settle()
            total_bytes = 0
            before = p.writes()
            for i in range(chars):
                p.type(str(i % 10).encode())
                total_bytes += len(p.settle())
            results[place] = (total_bytes / chars, (p.writes() - before) / chars)
        log(f"keys {label}: {results}")
        return results
    finally:
        p.kill()


def echo_latencies(programs, keys, seed):
    """Seconds from writing a key to its echo, for `keys` letters typed into
    each program with random gaps of up to 20 ms, the programs taking turns
    key by key so that a burst of load falls on all alike (a letter appears in
    no sequence the programs send, so its byte is its echo). `programs` maps a
    label to (argv, the key that empties the line). Returns, per label,
    (median, 99th percentile)."""
    rng = random.Random(seed)
    running = {label: (PtyProgram(argv), clear) for label, (argv, clear) in programs.items()}
    try:
        for p, _ in running.values():
            p.read_until(PROMPT_END)
            p.settle(0.3)
        times = {label: [] for label in running}
        for i in range(keys):
            for label, (p, clear) in running.items():
                if i % 60 == 59:  # a fresh line now and then: the same work per key
                    p.type(clear)
                    p.settle(0.3)
                time.sleep(rng.uniform(0.0, 0.02))
                p.seen = b""
                start = time.monotonic()
                p.type(b"x")
                p.read_until(b"x")
                times[label].append(time.monotonic() - start)
        results = {}
        for label, t in times.items():
            t.sort()
            results[label] = (statistics.median(t), t[int(len(t) * 0.99)])
            log(f"echo {label}: median {results[label][0] * 1000:.3f} ms, p99 {results[label][1] * 1000:.3f} ms")
        return results
    finally:
        for p, _ in running.values():
            p.kill()


def answer_latency(baseconv, bc, runs):
    """Median seconds from the Enter after the base to the answer line, and
    from the Enter after a number to bc's answer in the same base, alternating."""
    ours, theirs = [], []
    p = PtyProgram([baseconv])
    q = PtyProgram([bc, "-q"])
    try:
        p.read_until(PROMPT_END)
        q.type(b"obase=16\r")
        q.settle(0.3)
        for i in range(runs):
            p.type(b"255\r")
            p.read_until(b"?")
            p.settle(0.1)
            p.seen = b""
            start = time.monotonic()
            p.type(b"16\r")
            # The screen may send the blank between the digits as a cursor
            # step over an empty cell.
            p.read_until(re.compile(rb"d15(?: |\x1b\[C)d15"))
            ours.append(time.monotonic() - start)
            p.read_until(EXIT_HINT_END)
            p.type(b" ")
            p.read_until(PROMPT_END)
            start = time.monotonic()
            q.type(b"255\r")
            q.read_until(b"FF")
            theirs.append(time.monotonic() - start)
        result = (statistics.median(ours), statistics.median(theirs))
        log(f"answer: baseconv {result[0] * 1000:.3f} ms, bc {result[1] * 1000:.3f} ms")
        return result
    finally:
        p.kill()
        q.kill()


IDLE_PEERS = ("bare", "bare again", "on its terminal")


def idle_cpu(argv, poll_peer, seconds, rounds, seed):
    """CPU share while waiting at a prompt and at "<Esc> for exit", in
    `rounds` rounds of `seconds` each. Three poll loops of the same period
    (25 ms, 50 ms) run beside it and are measured over the same seconds in
    every round: a bare one that watches no descriptor, a second bare one
    (its ratio to the first shows how far two identical programs differ on
    this machine, the noise floor), and one that waits on its standard input,
    a pseudo-terminal of its own, as a program waiting for keys must.

    A wake-up costs tens of microseconds, and what it costs depends on the
    processor it comes on and on when that processor last ran something.
    Programs started together keep their processor and their phase to each
    other for as long as they run, so one run of them compares each at a
    fixed advantage or disadvantage. So every round starts all four afresh,
    in a random order a random part of a period apart, on one processor (the
    rounds take the processors in turn), and what counts is the median of
    the rounds' ratios, with their spread.

    Returns, for the prompt and for the exit hint, a dict: "cpu" maps
    "baseconv" and each peer to its per-round CPU shares, "switches" to its
    context switches per second (median of the rounds)."""
    rng = random.Random(seed)
    processors = sorted(os.sched_getaffinity(0))
    labels = ("baseconv",) + IDLE_PEERS

    def baseconv_at(exit_hint):
        p = PtyProgram(argv)
        p.read_until(PROMPT_END)
        if exit_hint:
            p.type(b"5\r2\r")
            p.read_until(EXIT_HINT_END)
        return p

    def rounds_at(exit_hint, period_ms):
        starts = {
            "baseconv": lambda: baseconv_at(exit_hint),
            "bare": lambda: PtyProgram([poll_peer, str(period_ms)]),
            "bare again": lambda: PtyProgram([poll_peer, str(period_ms)]),
            "on its terminal": lambda: PtyProgram([poll_peer, str(period_ms), "stdin"]),
        }
        cpu = {label: [] for label in labels}
        switches = {label: [] for label in labels}
        home = os.sched_getaffinity(0)
        for r in range(rounds):
            order = list(labels)
            rng.shuffle(order)
            programs = {}
            try:
                # Children take the processor of the process that starts them.
                os.sched_setaffinity(0, {processors[r % len(processors)]})
                for label in order:
                    programs[label] = starts[label]()
                    time.sleep(rng.uniform(0.0, period_ms / 1000))
                os.sched_setaffinity(0, home)
                programs["baseconv"].settle(0.3)
                start = {label: programs[label].scheduler_counts() for label in labels}
                time.sleep(seconds)
                for label in labels:
                    cpu1, switches1 = programs[label].scheduler_counts()
                    cpu0, switches0 = start[label]
                    cpu[label].append((cpu1 - cpu0) / seconds)
                    switches[label].append((switches1 - switches0) / seconds)
            finally:
                os.sched_setaffinity(0, home)
                for q in programs.values():
                    q.kill()
            log(
                f"idle {period_ms} ms round {r + 1}: "
                + ", ".join(f"{label} {cpu[label][-1] * 100:.3f} %" for label in labels)
            )
        return {"cpu": cpu, "switches": {label: statistics.median(v) for label, v in switches.items()}}

    return rounds_at(False, 25), rounds_at(True, 50)


def ratio_summary(cpu, label, peer):
    """The median of the rounds' ratios of `label`'s CPU to `peer`'s, and the
    lowest and highest of them."""
    ratios = sorted(a / b for a, b in zip(cpu[label], cpu[peer]) if b > 0)
    if not ratios:
        return "n/a"
    return f"{statistics.median(ratios):.2f}× ({ratios[0]:.2f}–{ratios[-1]:.2f}×)"


# --- Processes through pipes ----------------------------------------------------


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM")


def run_piped(argv, data, env=None, ready=None, finish=b"", until=None, then_kill=False):
    """Runs argv with `data` on a piped standard input and its standard output
    read from a pipe. Once ready(output) holds, the peak resident memory is
    read from the live process and `finish` is written before the input is
    closed. With `until`, the time is the time to its first appearance in the
    output; with then_kill the program is then ended with SIGTERM.
    Returns (output, seconds, wait status, peak resident KiB or None, CPU
    seconds: user and system time from wait4)."""
    in_r, in_w = os.pipe()
    out_r, out_w = os.pipe()
    start = time.perf_counter()
    pid = os.posix_spawn(
        argv[0],
        argv,
        env if env is not None else {"PATH": "/usr/bin:/bin"},
        file_actions=[(os.POSIX_SPAWN_DUP2, in_r, 0), (os.POSIX_SPAWN_DUP2, out_w, 1)],
    )
    os.close(in_r)
    os.close(out_w)
    os.set_blocking(in_w, False)
    out = bytearray()
    pending = memoryview(data)
    seen_at = None
    peak = None
    input_open = True
    waiting_for_ready = ready is not None

    def close_input():
        nonlocal input_open
        if input_open:
            os.close(in_w)
            input_open = False

    while True:
        if input_open and not pending and not waiting_for_ready and not then_kill:
            close_input()
        wlist = [in_w] if input_open and pending else []
        ready_r, ready_w, _ = select.select([out_r], wlist, [], 30)
        if not ready_r and not ready_w:
            raise RuntimeError(f"{argv[0]} stalled")
        if ready_w:
            try:
                n = os.write(in_w, pending[:65536])
                pending = pending[n:]
            except BrokenPipeError:
                pending = pending[:0]
        if ready_r:
            chunk = os.read(out_r, 65536)
            if not chunk:
                break
            out += chunk
            if until is not None and seen_at is None and until in out:
                seen_at = time.perf_counter() - start
                if then_kill:
                    peak = peak_rss_kib(pid)
                    os.kill(pid, signal.SIGTERM)
            if waiting_for_ready and not pending and ready(out):
                waiting_for_ready = False
                peak = peak_rss_kib(pid)
                pending = memoryview(finish)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    os.close(out_r)
    close_input()
    return bytes(out), seen_at if seen_at is not None else wall, status, peak, usage.ru_utime + usage.ru_stime


DIGIT_LINE = re.compile(rb"^(?:d\d+ )+$")


def baseconv_digits(output):
    return [
        [int(d[1:]) for d in line.split()]
        for line in output.replace(b"\r", b"").split(b"\n")
        if DIGIT_LINE.match(line)
    ]


def bc_digits(output, pairs):
    lines = output.decode().split("\n")
    result = []
    for line, (_, base) in zip(lines, pairs):
        if base <= 16:
            result.append([int(c, 16) for c in line.strip()])
        else:
            result.append([int(g) for g in line.split()])
    return result


def passes_once(baseconv, bc, pairs):
    """One round: baseconv, then bc, on the same pairs. Returns their wall
    times, peak resident memory and CPU times."""
    count = len(pairs)
    typed = b" ".join(f"{n}\n{b}\n".encode() for n, b in pairs)
    bc_input = "".join(f"obase={b}\n{n}\n" for n, b in pairs).encode()

    # The peak memory is read at the last "<Esc> for exit", before the Escape.
    out, wall, status, peak, cpu = run_piped(
        [baseconv], typed, ready=lambda out: out.count(EXIT_HINT_LINE) == count, finish=ESC
    )
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        raise RuntimeError(f"baseconv ended with status {status}")
    ours = baseconv_digits(out)
    bc_out, bc_wall, bc_status, bc_peak, bc_cpu = run_piped(
        [bc, "-q"],
        bc_input,
        env={"PATH": "/usr/bin:/bin", "BC_LINE_LENGTH": "0"},
        ready=lambda out: out.count(b"\n") == count,
    )
    if bc_status != 0:
        raise RuntimeError(f"bc ended with status {bc_status}")
    theirs = bc_digits(bc_out, pairs)
    if ours != theirs:
        first = next(i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b) if len(ours) == len(theirs) else -1
        raise RuntimeError(f"digits differ: {len(ours)} against {len(theirs)} lines, first difference {first}")
    log(f"passes: baseconv {wall:.3f} s ({cpu:.3f} s CPU), bc {bc_wall:.3f} s ({bc_cpu:.3f} s CPU), {count} identical digit lines")
    return wall, bc_wall, peak, bc_peak, cpu, bc_cpu


def passes(baseconv, bc, count, seed, rounds):
    """Passes per second of each (wall clock, and per CPU second), from the
    medians of `rounds` rounds taken in turn, so that a burst of load on a
    shared machine falls on both alike."""
    rng = random.Random(seed)
    pairs = [(rng.randint(0, MAX_VALUE), rng.randint(2, BC_MAX_BASE)) for _ in range(count)]
    results = [passes_once(baseconv, bc, pairs) for _ in range(rounds)]
    ours, theirs, ours_peak, bc_peak, ours_cpu, bc_cpu = (statistics.median(column) for column in zip(*results))
    return count / ours, count / theirs, round(ours_peak), round(bc_peak), count / ours_cpu, count / bc_cpu


def startup(baseconv, bc, runs):
    """Medians of the time to the first prompt (to bc's first answer) and of
    the peak resident memory at that moment."""
    ours, theirs, ours_peak, bc_peak = [], [], [], []
    for _ in range(runs):
        _, t, _, peak, _ = run_piped([baseconv], b"", until=FIRST_PROMPT, then_kill=True)
        ours.append(t)
        ours_peak.append(peak)
        _, t, _, peak, _ = run_piped([bc, "-q"], b"0\n", ready=lambda out: out == b"0\n", until=b"0\n")
        theirs.append(t)
        bc_peak.append(peak)
    return (
        statistics.median(ours),
        statistics.median(theirs),
        statistics.median(ours_peak),
        statistics.median(bc_peak),
    )


MEASURES = ("keys", "passes", "startup", "echo", "answer", "idle")


def idle_table(states, seconds, rounds):
    """The idle figures: each program's median CPU share, the median ratios
    with their spread over the rounds, and the wake-ups a second."""
    print(
        "| idle state | baseconv | bare poll loop | bare again | poll loop on its terminal"
        " | baseconv / bare | baseconv / on its terminal | bare again / bare | context switches a second:"
        " baseconv / bare / on its terminal |"
    )
    print("|---|---|---|---|---|---|---|---|---|")
    labels = ("baseconv",) + IDLE_PEERS
    for name, result in states:
        cpu, switches = result["cpu"], result["switches"]
        shares = " | ".join(f"{statistics.median(cpu[label]) * 100:.3f} %" for label in labels)
        print(
            f"| {name} | {shares}"
            f" | {ratio_summary(cpu, 'baseconv', 'bare')}"
            f" | {ratio_summary(cpu, 'baseconv', 'on its terminal')}"
            f" | {ratio_summary(cpu, 'bare again', 'bare')}"
            f" | {switches['baseconv']:.1f} / {switches['bare']:.1f} / {switches['on its terminal']:.1f} |"
        )
    print()
    print(
        f"CPU shares: medians of {rounds} rounds of {seconds:g} s; in each, the four started afresh on one"
        " processor at random phases and measured over the same seconds;"
        " ratios: the median of the rounds' ratios (lowest–highest)."
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("baseconv")
    parser.add_argument("readline_peer")
    parser.add_argument("poll_peer")
    parser.add_argument("--keys", type=int, default=2000)
    parser.add_argument("--answers", type=int, default=51)
    parser.add_argument("--starts", type=int, default=51)
    parser.add_argument("--passes", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=12)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--idle-rounds", type=int, default=9)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument(
        "--only", default=",".join(MEASURES), help=f"the measures to take, of {','.join(MEASURES)} (all unless given)"
    )
    args = parser.parse_args()
    only = set(args.only.split(","))
    if not only <= set(MEASURES):
        sys.exit(f"--only takes some of {','.join(MEASURES)}")
    baseconv = os.path.abspath(args.baseconv)
    readline_peer = os.path.abspath(args.readline_peer)
    bc = shutil.which("bc")
    if bc is None:
        sys.exit("bc is not installed")

    rows = []
    if "keys" in only:
        ours_keys = key_costs([baseconv], "baseconv")
        readline_keys = key_costs([readline_peer], "readline")
        for place, where in (("end", "end of line"), ("middle", "5 characters before the end")):
            rows.append(
                (f"bytes to the terminal per key, {where}", f"{ours_keys[place][0]:.1f}", f"{readline_keys[place][0]:.1f}")
            )
            rows.append((f"write calls per key, {where}", f"{ours_keys[place][1]:.2f}", f"{readline_keys[place][1]:.2f}"))
    if "passes" in only:
        ours_rate, bc_rate, ours_rss, bc_rss, ours_cpu_rate, bc_cpu_rate = passes(
            baseconv, bc, args.passes, args.seed, args.rounds
        )
        rows += [
            (
                f"passes per second, {args.passes} random pairs through pipes (median of {args.rounds} rounds)",
                f"{ours_rate:.0f}",
                f"{bc_rate:.0f}",
            ),
            ("passes per CPU second (user + system), same rounds", f"{ours_cpu_rate:.0f}", f"{bc_cpu_rate:.0f}"),
            (f"peak resident memory, {args.passes} passes (KiB)", f"{ours_rss}", f"{bc_rss}"),
        ]
    if "startup" in only:
        ours_start, bc_start, ours_rss1, bc_rss1 = startup(baseconv, bc, args.starts)
        rows += [
            ("peak resident memory at the first prompt / first answer (KiB)", f"{ours_rss1:.0f}", f"{bc_rss1:.0f}"),
            (
                f"start to first prompt / first answer (ms, median of {args.starts} alternating runs)",
                f"{ours_start * 1000:.2f}",
                f"{bc_start * 1000:.2f}",
            ),
        ]
    if "echo" in only:
        echo = echo_latencies(
            {"baseconv": ([baseconv], ESC), "readline": ([readline_peer], b"\x15")},
            args.keys,
            args.seed,
        )
        ours_echo, readline_echo = echo["baseconv"], echo["readline"]
        rows += [
            (
                f"key to echo, median of {args.keys} keys, taking turns with the peer (ms)",
                f"{ours_echo[0] * 1000:.3f}",
                f"{readline_echo[0] * 1000:.3f}",
            ),
            (
                f"key to echo, 99th percentile of {args.keys} keys (ms)",
                f"{ours_echo[1] * 1000:.3f}",
                f"{readline_echo[1] * 1000:.3f}",
            ),
        ]
    if "answer" in only:
        ours_answer, bc_answer = answer_latency(baseconv, bc, args.answers)
        rows.append(
            (
                f"Enter of the base to the answer line (ms, median of {args.answers})",
                f"{ours_answer * 1000:.3f}",
                f"{bc_answer * 1000:.3f}",
            )
        )
    if rows:
        print("| measure | baseconv | peer |")
        print("|---|---|---|")
        for name, ours, peer in rows:
            print(f"| {name} | {ours} | {peer} |")
        print()
        print("Peers: GNU readline (keys, echo), bc (passes, answer, start-up, memory).")
        print()
    if "idle" in only:
        at_prompt, at_exit_hint = idle_cpu(
            [baseconv], os.path.abspath(args.poll_peer), args.idle, args.idle_rounds, args.seed
        )
        idle_table(
            [("at a prompt (peers poll every 25 ms)", at_prompt), ('at "<Esc> for exit" (peers: 50 ms)', at_exit_hint)],
            args.idle,
            args.idle_rounds,
        )


if __name__ == "__main__":
    main()
