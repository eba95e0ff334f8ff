#!/usr/bin/python3
"""The OpenCV way of doing skyfold-cli's two conversions, for bench/compare.sh.

  opencv_cube.py to-cube PANO.jpg EDGE OUTDIR/BASE [--quality Q]
      six faces OUTDIR/BASE_{left,front,right,back,top,bottom}.jpg
  opencv_cube.py to-pano OUTDIR/BASE_front.jpg WIDTH OUT.jpg [--quality Q]
      the six faces next to the named one back into a WIDTH x WIDTH/2 panorama

What a user would write: maps computed with numpy in float32, cv2.remap with
bilinear interpolation, cv2.imwrite at JPEG quality 100 by default. OpenCV
runs on two threads so that it gets the same share of the machine as the
other tools. The face layout matches skyfold's: left, front, right and back
are centred on longitudes 90, 180, 270 and 0 degrees (columns W/4, W/2,
3W/4, 0); the top face has the front face along its bottom edge, the bottom
face along its top edge, and left is on the left of both.
"""

import argparse
import os
import sys

import cv2
import numpy as np

SUFFIXES = ["_left", "_front", "_right", "_back", "_top", "_bottom"]
BAND_ROWS = 256  # panorama rows mapped at a time by to-pano; keeps the maps small

# Per face: outward normal, right and down directions on the face, in a frame
# where longitude phi points to (sin phi, 0, cos phi) and +y is the zenith.
def _frame(phi_deg):
    p = np.radians(phi_deg)
    return (np.array([np.sin(p), 0.0, np.cos(p)]),
            np.array([np.cos(p), 0.0, -np.sin(p)]),
            np.array([0.0, -1.0, 0.0]))


FRONT = np.array([0.0, 0.0, -1.0])  # longitude 180
RIGHT = np.array([-1.0, 0.0, 0.0])  # longitude 270
FACES = [
    _frame(90), _frame(180), _frame(270), _frame(0),
    (np.array([0.0, 1.0, 0.0]), RIGHT, FRONT),    # top: front below
    (np.array([0.0, -1.0, 0.0]), RIGHT, -FRONT),  # bottom: front above
]


def to_cube(pano_path, edge, out_base, quality):
    pano = cv2.imread(pano_path, cv2.IMREAD_COLOR)
    if pano is None:
        sys.exit(f"cannot read {pano_path}")
    height, width = pano.shape[:2]
    # Face pixel centres in [-1, 1].
    t = ((np.arange(edge, dtype=np.float32) + 0.5) * (2.0 / edge) - 1.0)
    a = np.broadcast_to(t[None, :], (edge, edge))
    b = np.broadcast_to(t[:, None], (edge, edge))
    for index, (normal, right, down) in enumerate(FACES):
        n, r, d = (v.astype(np.float32) for v in (normal, right, down))
        x = n[0] + a * r[0] + b * d[0]
        y = n[1] + a * r[1] + b * d[1]
        z = n[2] + a * r[2] + b * d[2]
        lon = np.arctan2(x, z)  # -pi .. pi, 0 at the back seam
        lat = np.arctan2(y, np.hypot(x, z))
        map_x = (lon * np.float32(width / (2 * np.pi))) % np.float32(width) - np.float32(0.5)
        map_y = (np.float32(0.5) - lat * np.float32(1 / np.pi)) * np.float32(height) - np.float32(0.5)
        np.clip(map_y, 0, height - 1, out=map_y)
        # Wrap reaches across the seam at longitude 0 for the last half column.
        face = cv2.remap(pano, map_x, map_y, cv2.INTER_LINEAR, borderMode=cv2.BORDER_WRAP)
        out = f"{out_base}{SUFFIXES[index]}.jpg"
        if not cv2.imwrite(out, face, [cv2.IMWRITE_JPEG_QUALITY, quality]):
            sys.exit(f"cannot write {out}")


def to_pano(face_path, width, out_path, quality):
    stem, ext = os.path.splitext(face_path)
    if not stem.endswith("_front"):
        sys.exit("name the _front face")
    base = stem[: -len("_front")]
    faces = []
    for suffix in SUFFIXES:
        face = cv2.imread(base + suffix + ext, cv2.IMREAD_COLOR)
        if face is None:
            sys.exit(f"cannot read {base + suffix + ext}")
        faces.append(face)
    edge = faces[0].shape[0]
    # One atlas with a replicated one-pixel rim around each face, so bilinear
    # taps at a face's edge never read the neighbouring face.
    slot = edge + 2
    atlas = np.hstack([cv2.copyMakeBorder(f, 1, 1, 1, 1, cv2.BORDER_REPLICATE) for f in faces])
    del faces

    height = width // 2
    pano = np.empty((height, width, 3), np.uint8)
    lon = ((np.arange(width, dtype=np.float32) + 0.5) * np.float32(2 * np.pi / width))[None, :]
    sin_lon, cos_lon = np.sin(lon), np.cos(lon)
    normals = np.array([f[0] for f in FACES], np.float32)
    rights = np.array([f[1] for f in FACES], np.float32)
    downs = np.array([f[2] for f in FACES], np.float32)
    scale = np.float32(edge / 2)
    for y0 in range(0, height, BAND_ROWS):
        y1 = min(height, y0 + BAND_ROWS)
        lat = (np.float32(0.5) - (np.arange(y0, y1, dtype=np.float32) + np.float32(0.5))
               / np.float32(height)) * np.float32(np.pi)
        cos_lat, sin_lat = np.cos(lat)[:, None], np.sin(lat)[:, None]
        x = cos_lat * sin_lon
        y = np.broadcast_to(sin_lat, (y1 - y0, width))
        z = cos_lat * cos_lon
        # The face is the one whose normal is closest to the direction.
        dots = np.stack([x * n[0] + y * n[1] + z * n[2] for n in normals])
        index = np.argmax(dots, axis=0)
        dot = np.take_along_axis(dots, index[None], 0)[0]
        r = rights[index]
        d = downs[index]
        u = (x * r[..., 0] + y * r[..., 1] + z * r[..., 2]) / dot
        v = (x * d[..., 0] + y * d[..., 1] + z * d[..., 2]) / dot
        map_x = (u + 1) * scale - np.float32(0.5) + np.float32(1) + index.astype(np.float32) * slot
        map_y = (v + 1) * scale - np.float32(0.5) + np.float32(1)
        pano[y0:y1] = cv2.remap(atlas, map_x, map_y, cv2.INTER_LINEAR,
                                borderMode=cv2.BORDER_REPLICATE)
    if not cv2.imwrite(out_path, pano, [cv2.IMWRITE_JPEG_QUALITY, quality]):
        sys.exit(f"cannot write {out_path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    cube = sub.add_parser("to-cube")
    cube.add_argument("pano")
    cube.add_argument("edge", type=int)
    cube.add_argument("out_base")
    pano = sub.add_parser("to-pano")
    pano.add_argument("face")
    pano.add_argument("width", type=int)
    pano.add_argument("out")
    for p in (cube, pano):
        p.add_argument("--quality", type=int, default=100)
        p.add_argument("--threads", type=int, default=2)
    args = parser.parse_args()
    cv2.setNumThreads(args.threads)
    if args.command == "to-cube":
        to_cube(args.pano, args.edge, args.out_base, args.quality)
    else:
        to_pano(args.face, args.width, args.out, args.quality)


if __name__ == "__main__":
    main()
