#!/usr/bin/env python3
"""Writes the bench's installation tree: COUNT files of mixed sizes totalling TOTAL_MIB, about a
third of the bytes incompressible (random), the rest text-like data that deflates about 2:1.
The same seed gives the same tree, so every contender meets the same files.
    make_data.py <folder> <total MiB> <count>
"""
import math
import os
import random
import sys


def main() -> None:
    folder, total_mib, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(20261211)
    total = total_mib * 1024 * 1024

    # Log-uniform sizes from 200 bytes to 8 MiB, scaled to the total: many small files, a few big.
    raw = [math.exp(rng.uniform(math.log(200), math.log(8 << 20))) for _ in range(count)]
    scale = total / sum(raw)
    sizes = [max(1, int(s * scale)) for s in raw]
    sizes[-1] += total - sum(sizes)

    # A third of the bytes incompressible, spread over files of every size.
    order = list(range(count))
    rng.shuffle(order)
    random_files, random_bytes = set(), 0
    for i in order:
        if random_bytes + sizes[i] <= total // 3:
            random_files.add(i)
            random_bytes += sizes[i]

    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
    pool = bytearray()
    while len(pool) < (8 << 20):
        line = b" ".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
        pool += line + b" %d\n" % rng.randint(0, 99999)
    pool = bytes(pool)

    for i, size in enumerate(sizes):
        sub = os.path.join(folder, "data%02d" % (i % 24), "set%d" % (i % 5))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "file%04d.%s" % (i, "bin" if i in random_files else "txt")), "wb") as out:
            if i in random_files:
                out.write(os.urandom(size))
            else:
                left = size
                while left > 0:
                    start = rng.randrange(0, len(pool) - 65536)
                    piece = pool[start:start + min(left, 65536)]
                    out.write(piece)
                    left -= len(piece)
    print("files=%d bytes=%d incompressible_files=%d incompressible_bytes=%d"
          % (count, total, len(random_files), random_bytes))


if __name__ == "__main__":
    main()
