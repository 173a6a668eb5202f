#!/usr/bin/env python3
"""Times the tool against the floor on one store and window, taking turns.

    alternate.py --budget SECONDS --data-home DIR --json OUT \\
                 TOOL FLOOR START_MS END_MS

Runs rounds of three programs, one after another: the tool, the floor on as
many threads as the tool (QUORVEL_FLOOR_THREADS unset) and the floor on one
thread (QUORVEL_FLOOR_THREADS=1), each with XDG_DATA_HOME=DIR and
TZ=Europe/Berlin, standard output and error discarded. Because the three take
turns, a change in the machine's load during the case falls on all of them
alike, and each round's times can be compared with each other.

One round first, untimed (it also fills the page cache and checks that both
floors read the same files); then rounds while they fit in the budget, at
least one and at most MAX_ROUNDS. For each run it keeps the wall-clock time
(from before the process is spawned until wait4 returns) and the CPU time the
process used (user + system, from wait4's resource usage, so its threads
included). Writes them to OUT as JSON, in seconds.
"""

import argparse
import json
import os
import subprocess
import sys
import time

MAX_ROUNDS = 100


def environment(data_home, floor_threads):
    env = dict(os.environ)
    env["XDG_DATA_HOME"] = data_home
    env["TZ"] = "Europe/Berlin"
    env.pop("QUORVEL_FLOOR_THREADS", None)
    if floor_threads is not None:
        env["QUORVEL_FLOOR_THREADS"] = str(floor_threads)
    return env


def run(argv, env, devnull):
    """One run: (wall seconds, CPU seconds). Exits when the program fails."""
    actions = [
        (os.POSIX_SPAWN_DUP2, devnull, 1),
        (os.POSIX_SPAWN_DUP2, devnull, 2),
    ]
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = (time.perf_counter_ns() - start) / 1e9
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"alternate.py: {' '.join(argv)} exited with status {code}")
    return wall, usage.ru_utime + usage.ru_stime


def floor_output(argv, env):
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit(f"alternate.py: the floor exited with status {done.returncode}: {done.stderr}")
    return done.stdout.strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--budget", type=float, required=True)
    parser.add_argument("--data-home", required=True)
    parser.add_argument("--json", required=True)
    parser.add_argument("tool")
    parser.add_argument("floor")
    parser.add_argument("start")
    parser.add_argument("end")
    args = parser.parse_args()

    programs = {
        "tool": ([args.tool, args.start, args.end], environment(args.data_home, None)),
        "floor": ([args.floor, args.start, args.end], environment(args.data_home, None)),
        "floor1": ([args.floor, args.start, args.end], environment(args.data_home, 1)),
    }
    read = {name: floor_output(*programs[name]) for name in ("floor", "floor1")}
    if read["floor"] != read["floor1"]:
        sys.exit(f"alternate.py: the floors read different files: {read}")

    devnull = os.open(os.devnull, os.O_WRONLY)
    times = {name: {"wall": [], "cpu": []} for name in programs}
    round_start = time.perf_counter()
    for argv, env in programs.values():  # the untimed round
        run(argv, env, devnull)
    round_time = time.perf_counter() - round_start

    started = time.perf_counter()
    rounds = 0
    while rounds < MAX_ROUNDS:
        spent = time.perf_counter() - started
        if rounds > 0 and spent + round_time > args.budget:
            break
        for name, (argv, env) in programs.items():
            wall, cpu = run(argv, env, devnull)
            times[name]["wall"].append(wall)
            times[name]["cpu"].append(cpu)
        rounds += 1
        round_time = (time.perf_counter() - started) / rounds

    with open(args.json, "w") as out:
        json.dump({"rounds": rounds, "floor_read": read["floor"], "times": times}, out)


if __name__ == "__main__":
    main()
