#!/usr/bin/env python3
"""Writes a reproducible tree of many small files for the read benchmark's volumes.

  tree.py ROOT FILES PER_FOLDER MAX_SIZE [--delete-every K [--delete-list FILE]]

ROOT/dNNNN/file-NNNNNNN.txt, PER_FOLDER files a folder, each 0 to MAX_SIZE - 1 bytes of text
that names the file (so no two files are alike). With --delete-every K, every K-th file is
removed again once all are written (through the mounted file system, so its record stays on
the volume as a deleted one); --delete-list writes their paths, relative to ROOT, instead of
removing them (for mtools, which deletes through mdel).
"""
import argparse
import os


def main():
    p = argparse.ArgumentParser()
    p.add_argument("root")
    p.add_argument("files", type=int)
    p.add_argument("per_folder", type=int)
    p.add_argument("max_size", type=int)
    p.add_argument("--delete-every", type=int, default=0)
    p.add_argument("--delete-list")
    a = p.parse_args()

    doomed = []
    folder = None
    for i in range(a.files):
        if i % a.per_folder == 0:
            folder = f"d{i // a.per_folder:04d}"
            os.makedirs(os.path.join(a.root, folder), exist_ok=True)
        rel = f"{folder}/file-{i:07d}.txt"
        # A spread of sizes (Knuth's multiplicative hash): resident and non-resident on NTFS,
        # one cluster or two on FAT.
        size = (i * 2654435761) % (1 << 32) % a.max_size
        line = (rel + "\n").encode()
        data = (line * (size // len(line) + 1))[:size]
        with open(os.path.join(a.root, rel), "wb") as f:
            f.write(data)
        if a.delete_every and i % a.delete_every == a.delete_every - 1:
            doomed.append(rel)

    if a.delete_list:
        with open(a.delete_list, "w") as f:
            f.writelines(r + "\n" for r in doomed)
    else:
        for rel in doomed:
            os.remove(os.path.join(a.root, rel))


if __name__ == "__main__":
    main()
