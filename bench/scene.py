#!/usr/bin/python3
"""A synthetic 16-bit thermal scene, as raw counts of a thermal core: a room
with a cool window, a warm person walking across it, a hot mug and a
radiator, sensor noise and a faint column pattern. Frame n is the scene a
moment later (the person moves), so a run of frames is a short clip.

    bench/scene.py [--size WxH] [--frames N] [--first K] OUT_DIR

writes OUT_DIR/scene-0001.png ... as 16-bit gray PNGs (through OpenCV).
Used by the apply benchmark and for the pictures in docs/.
"""
import argparse
import os
import sys

import numpy as np


def make_scene(width=640, height=512, frame=0):
    """The scene's frame as a (height, width) uint16 array; the same
    arguments give the same frame."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    u, v = x / width, y / height
    # Walls a little warmer near the floor, ceiling cooler.
    counts = 7400 + 180 * v + 60 * np.sin(3.1 * u)
    # Window: cooler, with a frame.
    window = (u > 0.06) & (u < 0.32) & (v > 0.12) & (v < 0.52)
    counts[window] = 6900 + 120 * v[window]
    # Radiator under the window: ribs, hot.
    radiator = (u > 0.08) & (u < 0.30) & (v > 0.62) & (v < 0.78)
    counts[radiator] = 9200 + 500 * (np.cos(u[radiator] * 260) > 0)
    # A person walking left to right, body and head.
    centre = 0.45 + 0.25 * np.sin(frame / 40.0)
    body = ((u - centre) / 0.075) ** 2 + ((v - 0.70) / 0.28) ** 2
    head = ((u - centre) / 0.045) ** 2 + ((v - 0.30) / 0.075) ** 2
    person = np.minimum(body, head)
    counts = np.where(person < 1, 8600 + 400 * (1 - person), counts)
    # A hot mug on a table.
    mug = ((u - 0.82) / 0.025) ** 2 + ((v - 0.58) / 0.035) ** 2
    counts = np.where(mug < 1, 11800 - 900 * mug, counts)
    table = (u > 0.70) & (u < 0.95) & (v > 0.615) & (v < 0.64)
    counts[table] = 7300
    rng = np.random.default_rng(1000 + frame)
    counts += rng.normal(0, 12, counts.shape)
    counts += np.random.default_rng(7).normal(0, 6, width)[np.newaxis, :]
    return np.clip(np.rint(counts), 0, 65535).astype(np.uint16)


def write_scene(out_dir, width, height, frames, first=1):
    """Writes frames scene-<n>.png from first; returns their paths."""
    import cv2
    os.makedirs(out_dir, exist_ok=True)
    paths = []
    for n in range(first, first + frames):
        path = os.path.join(out_dir, "scene-%04d.png" % n)
        if not cv2.imwrite(path, make_scene(width, height, n - 1)):
            raise OSError("cannot write " + path)
        paths.append(path)
    return paths


def main():
    parser = argparse.ArgumentParser(description="Writes frames of a synthetic thermal scene.")
    parser.add_argument("--size", default="640x512", help="WxH (default 640x512)")
    parser.add_argument("--frames", type=int, default=1)
    parser.add_argument("--first", type=int, default=1, help="number of the first frame")
    parser.add_argument("out_dir")
    arguments = parser.parse_args()
    width, height = (int(side) for side in arguments.size.lower().split("x"))
    write_scene(arguments.out_dir, width, height, arguments.frames, arguments.first)
    return 0


if __name__ == "__main__":
    sys.exit(main())
