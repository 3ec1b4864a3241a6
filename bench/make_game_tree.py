#!/usr/bin/env python3
"""Makes a game-shaped folder for the removal benchmark; the same arguments make the same tree.

    make_game_tree.py DEST FILES [--seed N]   a game folder with FILES files
    make_game_tree.py DEST --chain DEPTH      DEPTH nested one-letter folders, bottom.txt last

The game folder has what matters to a removal: folders up to 10 levels deep, mostly tiny
files with a long tail of larger ones, about 2 % read-only files, Korean names and names
with spaces, and the installer's leftovers (.vexal_temp, install_progress.json,
combinedata_manifest).
"""
import argparse
import os
import random
import stat
import sys

MAX_DEPTH = 10
FOLDER_WORDS = ["Content", "Paks", "Binaries", "Win64", "Maps", "Textures", "Sounds", "Movies",
                "Shaders", "Config", "Plugins", "Localization", "Engine", "Saved Games",
                "데이터", "리소스", "음성", "배경 음악", "캐릭터 모델"]
FILE_WORDS = ["asset", "chunk", "tex", "mesh", "anim", "sound bank", "대사", "지도 조각"]
EXTENSIONS = [".pak", ".bin", ".dat", ".ogg", ".dds", ".json", ".txt"]


def file_size(rng):
    """Mostly under 1 KiB, some up to 16 KiB, a few up to 256 KiB."""
    roll = rng.random()
    if roll < 0.95:
        return rng.randrange(0, 1024)
    if roll < 0.995:
        return rng.randrange(1024, 16 * 1024)
    return rng.randrange(16 * 1024, 256 * 1024)


def write(path, size, read_only=False):
    with open(path, "wb") as f:
        f.write(b"\x5a" * size)
    if read_only:
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


def make_game(dest, files, seed):
    rng = random.Random(seed)
    os.makedirs(dest)
    # The installer's leftovers: a working folder, its progress file, a cached manifest.
    temp = os.path.join(dest, ".vexal_temp")
    os.makedirs(temp)
    for i in range(8):
        write(os.path.join(temp, "chunk_%04d.tmp" % i), file_size(rng))
    write(os.path.join(dest, "install_progress.json"), 64)
    write(os.path.join(dest, "combinedata_manifest"), 512)
    made = 10

    folders = [dest]        # every folder, in the order made
    depth_of = {dest: 0}
    open_folders = [dest]   # the ones that may still get subfolders
    count = 0
    while made < files:
        # About one new folder per 12 files, below any folder not yet 10 deep.
        if rng.random() < 1 / 12:
            parent = rng.choice(open_folders)
            depth = depth_of[parent] + 1
            count += 1
            folder = os.path.join(parent, "%s %d" % (rng.choice(FOLDER_WORDS), count))
            os.mkdir(folder)
            folders.append(folder)
            depth_of[folder] = depth
            if depth < MAX_DEPTH:
                open_folders.append(folder)
            continue
        # Files gather in recent folders, as an installer writes them.
        folder = folders[max(0, len(folders) - 1 - int(rng.expovariate(0.2)))]
        name = "%s_%06d%s" % (rng.choice(FILE_WORDS), made, rng.choice(EXTENSIONS))
        write(os.path.join(folder, name), file_size(rng), read_only=rng.random() < 0.02)
        made += 1


def make_chain(dest, depth):
    path = dest
    os.makedirs(path)
    for _ in range(depth):
        path = os.path.join(path, "d")
        os.mkdir(path)
    write(os.path.join(path, "bottom.txt"), 16)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dest")
    parser.add_argument("files", nargs="?", type=int)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--chain", type=int, metavar="DEPTH")
    args = parser.parse_args()
    if os.path.lexists(args.dest):
        sys.exit("make_game_tree.py: %s exists" % args.dest)
    if args.chain is not None:
        make_chain(args.dest, args.chain)
    elif args.files and args.files > 10:
        make_game(args.dest, args.files, args.seed)
    else:
        parser.error("give FILES (more than 10) or --chain DEPTH")


if __name__ == "__main__":
    main()
