#!/usr/bin/python3
"""The apply benchmark's comparison: palette-apply's job done with OpenCV.

    apply_opencv.py PALETTE LEVEL OUT_DIR FRAME...

Each 16-bit frame is read with cv2.imread (unchanged), mapped with minmax
exactly as palette-apply does (round-half-up(255 (v - lo) / (hi - lo)), a
flat frame to entry 0), coloured with cv2.applyColorMap and the palette's
256 x 1 blue-green-red table (palette in bgra order), and written with
cv2.imwrite at the given zlib level.
"""
import os
import sys

import cv2
import numpy as np


def main():
    palette_path, level, out_dir = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    raw = np.fromfile(palette_path, np.uint8)
    table = raw.reshape(256, 1, 4)[:, :, :3].copy()
    parameters = [cv2.IMWRITE_PNG_COMPRESSION, level]
    for path in sys.argv[4:]:
        frame = cv2.imread(path, cv2.IMREAD_UNCHANGED)
        low, high = int(frame.min()), int(frame.max())
        if high == low:
            entries = np.zeros(frame.shape, np.uint8)
        else:
            offset = frame.astype(np.int64) - low
            entries = ((510 * offset + (high - low)) // (2 * (high - low))).astype(np.uint8)
        name = os.path.splitext(os.path.basename(path))[0] + ".png"
        if not cv2.imwrite(os.path.join(out_dir, name), cv2.applyColorMap(entries, table),
                           parameters):
            print("apply_opencv.py: cannot write " + name, file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
