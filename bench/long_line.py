"""Time to answer one long typed line through pipes.

For each length L, standard input is L digits, Enter, a base, Enter and
Escape: the line is typed key by key into the line editor and echoed to the
pipe, then answered (a field that long is "Wrong input!"). The time is from
the start of the program to its end, the median of R rounds. A line editor
that copies the line for every key takes time growing with L squared; one
that appends in place grows with L, so the time per character stays level.
"""

import argparse
import statistics
import subprocess
import sys
import time


def answer_time(program, length):
    keys = b"1" * length + b"\n2\n\x1b"
    start = time.perf_counter()
    done = subprocess.run([program], input=keys, stdout=subprocess.PIPE, check=False)
    elapsed = time.perf_counter() - start
    if done.returncode != 0 or b"Wrong input!" not in done.stdout[-200:]:
        sys.exit(f"{program}: no answer for a line of {length} characters (status {done.returncode})")
    if done.stdout.count(b"1") < length:
        sys.exit(f"{program}: the echo of a line of {length} characters is short")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--lengths", default="125000,250000,500000,1000000")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    lengths = [int(n) for n in args.lengths.split(",")]

    print("| characters in the line | seconds to the answer (median) | microseconds per character |")
    print("|---|---|---|")
    for length in lengths:
        seconds = statistics.median(answer_time(args.program, length) for _ in range(args.rounds))
        print(f"| {length} | {seconds:.3f} | {seconds / length * 1e6:.3f} |")


if __name__ == "__main__":
    main()
