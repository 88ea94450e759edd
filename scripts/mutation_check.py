#!/usr/bin/env python3
"""Stamps and un-stamps mutated copies of pictures and checks that nothing is
ever lost: every copy is either left byte for byte as it was (a refusal) or
stamped, and then the undo gives back exactly the pixels of the copy before
stamping (djpeg, libjpeg's own decoder, is the judge). mkquill must never
die of a signal and no file but the pictures may be left in the folder.

    scripts/mutation_check.py MKQUILL PICTURE... [--count N] [--seed S]
"""
import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile


def mutate(data: bytes, rng: random.Random) -> bytes:
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        kind = rng.random()
        at = rng.randrange(len(data))
        if kind < 0.6:  # flip a byte, biased to the headers where parsing lives
            if rng.random() < 0.5:
                at = rng.randrange(min(len(data), 4096))
            data[at] = rng.randrange(256)
        elif kind < 0.75:  # cut the file
            del data[at:]
            if not data:
                data = bytearray(b"\xff")
        elif kind < 0.9:  # insert junk
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 16)))
        else:  # remove a run
            del data[at:at + rng.randint(1, 64)]
    return bytes(data)


def pixels(path: str):
    run = subprocess.run(["djpeg", "-pnm", path], capture_output=True)
    if run.returncode != 0:
        return None
    return hashlib.sha256(run.stdout).hexdigest()


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("mkquill")
    parser.add_argument("pictures", nargs="+")
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--batch", type=int, default=100)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    sources = [open(p, "rb").read() for p in args.pictures]
    counts = {"refused": 0, "stamped and restored": 0}
    problems = []
    done = 0
    with tempfile.TemporaryDirectory() as folder:
        while done < args.count:
            n = min(args.batch, args.count - done)
            names = []
            for i in range(n):
                name = os.path.join(folder, f"m{done + i:05d}.jpg")
                with open(name, "wb") as f:
                    f.write(mutate(rng.choice(sources), rng))
                names.append(name)
            before = {name: open(name, "rb").read() for name in names}
            stamp = subprocess.run([args.mkquill, "-L", "-O"] + names, capture_output=True)
            if stamp.returncode < 0 or stamp.returncode not in (0, 2):
                problems.append(f"stamp exited with {stamp.returncode}")
            failed = {line.split("Stamp:  ", 1)[1] for line in
                      stamp.stdout.decode(errors="replace").splitlines() if line.startswith("Error")}
            stamped = [name for name in names if open(name, "rb").read() != before[name]]
            for name in names:
                # A refusal leaves the file as it was; a success changes it.
                if (name in failed) == (name in stamped):
                    problems.append(f"{name}: reported {'failed' if name in failed else 'done'}"
                                    f" but {'changed' if name in stamped else 'unchanged'}")
            undo = subprocess.run([args.mkquill, "-U", "-V0"] + stamped, capture_output=True) \
                if stamped else None
            if undo is not None and (undo.returncode < 0 or undo.returncode not in (0, 2)):
                problems.append(f"undo exited with {undo.returncode}")
            for name in names:
                if name not in stamped:
                    counts["refused"] += 1
                    continue
                original = os.path.join(folder, "original.jpg")
                with open(original, "wb") as f:
                    f.write(before[name])
                want, got = pixels(original), pixels(name)
                if want is None or want != got:
                    keep = os.path.join(os.getcwd(), "mutation-" + os.path.basename(name))
                    with open(keep, "wb") as f:
                        f.write(before[name])
                    problems.append(f"{keep}: stamped, but undo did not give the pixels back")
                else:
                    counts["stamped and restored"] += 1
                os.remove(original)
            leftovers = sorted(set(os.listdir(folder)) - {os.path.basename(n) for n in names})
            if leftovers:
                problems.append(f"left in the folder: {leftovers}")
            for name in os.listdir(folder):
                os.remove(os.path.join(folder, name))
            done += n
    print(f"{done} mutated copies: {counts['refused']} refused and left as they were, "
          f"{counts['stamped and restored']} stamped and restored exactly")
    for p in problems:
        print("PROBLEM:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
