#!/usr/bin/python3
"""Writes a deterministic, photo-like equirectangular test panorama as JPEG.

Flat colour would flatter every codec and resampler alike, so the picture has
what real photographs have: smooth sky gradients, cloudy low-frequency
texture, a jagged horizon, hard-edged buildings with windows, thin lines and
sensor-like grain. The same width and seed always give the same file.

usage: make_panorama.py WIDTH OUT.jpg [--seed N] [--quality Q]
"""

import argparse
import sys

import cv2
import numpy as np

BAND_ROWS = 512  # rows per band, keeps the float work small at 16384 wide


def smooth_noise(rng, width, height, cells_x, cells_y, channels):
    """Value noise: a coarse random grid enlarged with bicubic interpolation."""
    grid = rng.random((cells_y, cells_x, channels), dtype=np.float32)
    # Repeat the first column so the left and right edges of the panorama meet.
    grid = np.concatenate([grid, grid[:, :1]], axis=1)
    big = cv2.resize(grid, (width + width // cells_x, height), interpolation=cv2.INTER_CUBIC)
    big = big[:, :width]
    return big.reshape(height, width, channels)


def horizon_profile(rng, width, height):
    """Row of the horizon per column: a few octaves of mountains."""
    x = np.arange(width, dtype=np.float64) / width * 2 * np.pi
    profile = np.full(width, 0.55 * height)
    for octave in range(1, 7):
        amp = 0.05 * height / octave**1.2
        phase = rng.random() * 2 * np.pi
        freq = 2 ** octave + rng.integers(0, 3)
        profile -= amp * np.abs(np.sin(freq * x / 2 + phase))
    return profile.astype(np.int32)


def draw_buildings(rng, img, horizon):
    """Hard edges: blocks standing on the ground with rows of lit windows."""
    height, width = img.shape[:2]
    unit = width / 8192.0
    for _ in range(60):
        bw = int(rng.integers(80, 400) * unit)
        bh = int(rng.integers(150, 900) * unit)
        x0 = int(rng.integers(0, width - bw))
        base = int(horizon[x0:x0 + bw].max() + rng.integers(20, 400) * unit)
        base = min(base, height - 1)
        top = max(base - bh, 0)
        colour = tuple(int(c) for c in rng.integers(40, 200, 3))
        cv2.rectangle(img, (x0, top), (x0 + bw, base), colour, thickness=-1)
        cv2.rectangle(img, (x0, top), (x0 + bw, base), (20, 20, 20), thickness=max(1, int(3 * unit)))
        step = max(4, int(30 * unit))
        win = max(2, int(12 * unit))
        lit = tuple(int(c) for c in rng.integers(160, 256, 3))
        for wy in range(top + step // 2, base - step, step):
            for wx in range(x0 + step // 2, x0 + bw - win, step):
                cv2.rectangle(img, (wx, wy), (wx + win, wy + win), lit, thickness=-1)
    # Thin wires and poles: one-pixel features that show aliasing.
    for _ in range(40):
        x0 = int(rng.integers(0, width))
        y0 = int(rng.integers(height // 3, height))
        x1 = int(x0 + rng.integers(-600, 600) * unit)
        y1 = int(y0 + rng.integers(-300, 300) * unit)
        cv2.line(img, (x0, y0), (x1, y1), (30, 30, 30), thickness=1, lineType=cv2.LINE_AA)
    # Round things: the sun and a few discs, with soft and hard rims.
    cv2.circle(img, (int(width * 0.62), int(height * 0.18)), int(120 * unit), (220, 250, 255), -1,
               lineType=cv2.LINE_AA)
    for _ in range(25):
        centre = (int(rng.integers(0, width)), int(rng.integers(height // 2, height)))
        colour = tuple(int(c) for c in rng.integers(0, 256, 3))
        cv2.circle(img, centre, int(rng.integers(10, 120) * unit), colour, -1)


def make_panorama(width, seed):
    height = width // 2
    rng = np.random.default_rng(seed)
    horizon = horizon_profile(rng, width, height)
    clouds = smooth_noise(rng, width, height, 48, 24, 1)
    detail = smooth_noise(rng, width, height, 512, 256, 3)
    ground_tint = smooth_noise(rng, width, height, 96, 48, 3)

    img = np.empty((height, width, 3), dtype=np.uint8)
    sky_top = np.array([150, 80, 30], np.float32)      # BGR: deep blue at the zenith
    sky_low = np.array([235, 205, 180], np.float32)    # pale near the horizon
    ground_a = np.array([40, 90, 70], np.float32)      # greens and browns
    ground_b = np.array([60, 110, 140], np.float32)
    for y0 in range(0, height, BAND_ROWS):
        y1 = min(height, y0 + BAND_ROWS)
        rows = np.arange(y0, y1, dtype=np.float32)[:, None]
        t = np.clip(rows / horizon[None, :].astype(np.float32), 0, 1)[..., None]
        sky = sky_top * (1 - t) + sky_low * t
        cloud = np.clip((clouds[y0:y1] - 0.45) * 2.5, 0, 1)
        sky = sky * (1 - 0.8 * cloud) + 245 * 0.8 * cloud
        depth = np.clip((rows - horizon[None, :]) / (height * 0.45), 0, 1)[..., None]
        gt = ground_tint[y0:y1]
        ground = ground_a * gt + ground_b * (1 - gt)
        ground = ground * (0.6 + 0.6 * depth) + (detail[y0:y1] - 0.5) * 90
        is_ground = (rows >= horizon[None, :])[..., None]
        band = np.where(is_ground, ground, sky)
        band += (detail[y0:y1] - 0.5) * 12
        band += rng.normal(0, 5, band.shape).astype(np.float32)  # grain
        img[y0:y1] = np.clip(band, 0, 255).astype(np.uint8)
    draw_buildings(rng, img, horizon)
    # Grain again on top of the hard edges, as a sensor would add it.
    for y0 in range(0, height, BAND_ROWS):
        y1 = min(height, y0 + BAND_ROWS)
        noise = rng.normal(0, 3, img[y0:y1].shape).astype(np.float32)
        img[y0:y1] = np.clip(img[y0:y1] + noise, 0, 255).astype(np.uint8)
    return img


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("width", type=int)
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--quality", type=int, default=92)
    args = parser.parse_args()
    if args.width < 512 or args.width % 8:
        sys.exit("width must be a multiple of 8, at least 512")
    img = make_panorama(args.width, args.seed)
    if not cv2.imwrite(args.out, img, [cv2.IMWRITE_JPEG_QUALITY, args.quality]):
        sys.exit(f"cannot write {args.out}")


if __name__ == "__main__":
    main()
