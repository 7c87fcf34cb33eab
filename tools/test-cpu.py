#!/usr/bin/env python3
"""Processor time of each CTest test of a build folder.

    python3 tools/test-cpu.py <build folder> [ctest options, e.g. -L threads]

Runs each test CTest lists, alone and one after the other, with the
environment CTest would give it, and prints the user plus system time of the
test and of the programs it starts (once they are waited for), then its wall
time, longest first, and the totals. For finding where a test run's time
goes; it checks nothing (a failing test is marked, not reported).
"""
import json
import os
import resource
import subprocess
import sys
import time


def environment(properties):
    env = dict(os.environ)
    for prop in properties:
        if prop["name"] == "ENVIRONMENT":
            for setting in prop["value"]:
                name, value = setting.split("=", 1)
                env[name] = value
        elif prop["name"] == "ENVIRONMENT_MODIFICATION":
            for change in prop["value"]:
                name, rest = change.split("=", 1)
                op, value = rest.split(":", 1)
                old = env.get(name)
                if op in ("set", "reset"):
                    env[name] = value
                elif op == "unset":
                    env.pop(name, None)
                elif op == "string_append":
                    env[name] = (old or "") + value
                elif op == "string_prepend":
                    env[name] = value + (old or "")
                elif op == "path_list_append":
                    env[name] = value if not old else old + os.pathsep + value
                elif op == "path_list_prepend":
                    env[name] = value if not old else value + os.pathsep + old
    return env


def main():
    build, options = sys.argv[1], sys.argv[2:]
    listing = json.loads(subprocess.check_output(["ctest", "--test-dir", build, "--show-only=json-v1", *options]))
    rows = []
    for test in listing["tests"]:
        props = test.get("properties", [])
        cwd = next((p["value"] for p in props if p["name"] == "WORKING_DIRECTORY"), build)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.monotonic()
        result = subprocess.run(test["command"], env=environment(props), cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
        rows.append((cpu, wall, test["name"], result.returncode))
    for cpu, wall, name, status in sorted(rows, reverse=True):
        print(f"{cpu:7.2f} {wall:7.2f}  {name}" + ("" if status == 0 else f"  (failed: status {status})"))
    print(f"{sum(r[0] for r in rows):7.2f} {sum(r[1] for r in rows):7.2f}  all tests of {build}")


if __name__ == "__main__":
    main()
