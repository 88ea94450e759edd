#!/usr/bin/env python3
"""Renders the project's sample photographs into samples/.

Two procedurally drawn landscapes, encoded with cjpeg (libjpeg-turbo-progs),
each given an EXIF APP1 segment right after SOI that carries a
DateTimeOriginal:

  samples/sunset_420.jpg  1600 x 1200, 4:2:0, 2011:07:04 18:30:05
  samples/coast_444.jpg   1200 x 900,  4:4:4, quality 90, 2019:03:16 10:42:17

Standard library only. The pictures are deterministic: running the script
again writes the same files.

    python3 scripts/make_samples.py [output folder]
"""

import math
import os
import struct
import subprocess
import sys
import tempfile


# ---------------------------------------------------------------------------
# Noise and colour helpers
# ---------------------------------------------------------------------------

def hash01(x, y, seed):
    """A repeatable pseudo-random value in [0, 1) for a lattice point."""
    h = (x * 374761393 + y * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFFFF) / float(0x1000000)


class ValueNoise:
    """Smooth value noise: a lattice of random values, interpolated."""

    def __init__(self, cell, seed, width, height):
        self.cell = float(cell)
        # The lattice repeats beyond the picture, so scaled coordinates are fine.
        cols = int(width / cell) + 2
        rows = int(height / cell) + 2
        self.cols = cols
        self.rows = rows
        self.grid = [hash01(i % cols, i // cols, seed) for i in range(cols * rows)]

    def at(self, x, y):
        fx = x / self.cell
        fy = y / self.cell
        ix = int(fx)
        iy = int(fy)
        tx = fx - ix
        ty = fy - iy
        tx = tx * tx * (3.0 - 2.0 * tx)
        ty = ty * ty * (3.0 - 2.0 * ty)
        g = self.grid
        cols = self.cols
        x0 = ix % cols
        x1 = (ix + 1) % cols
        r0 = (iy % self.rows) * cols
        r1 = ((iy + 1) % self.rows) * cols
        a = g[r0 + x0] + (g[r0 + x1] - g[r0 + x0]) * tx
        b = g[r1 + x0] + (g[r1 + x1] - g[r1 + x0]) * tx
        return a + (b - a) * ty


class Fractal:
    """A few octaves of value noise, roughly in [0, 1)."""

    def __init__(self, cell, octaves, seed, width, height):
        self.layers = []
        weight = 1.0
        total = 0.0
        for o in range(octaves):
            self.layers.append((ValueNoise(max(cell / (2 ** o), 1.5), seed + 17 * o, width, height),
                                weight))
            total += weight
            weight *= 0.5
        self.total = total

    def at(self, x, y):
        return sum(n.at(x, y) * w for n, w in self.layers) / self.total


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def gradient(stops, t):
    """Colour at t along a list of (position, colour) stops."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0))
    return stops[-1][1]


def clamp8(v):
    v = int(v + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


def smoothstep(e0, e1, x):
    t = (x - e0) / (e1 - e0)
    t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
    return t * t * (3.0 - 2.0 * t)


# ---------------------------------------------------------------------------
# Scenes
# ---------------------------------------------------------------------------

def ridge(x, width, base, waves):
    """Height (y) of a hill line at x: base plus a sum of sines."""
    u = x / width
    return base + sum(a * math.sin(f * u * 2.0 * math.pi + p) for a, f, p in waves)


def render_sunset(width, height):
    """A summer evening: warm sky, low sun, layered hills, a lake, a cabin,
    fir trees and a meadow in front."""
    sky = [(0.0, (28, 40, 98)), (0.45, (120, 86, 150)), (0.75, (238, 130, 82)),
           (1.0, (255, 196, 110))]
    horizon = int(height * 0.56)
    sun_x, sun_y, sun_r = width * 0.68, height * 0.47, height * 0.055
    clouds = Fractal(width / 5.0, 4, 11, width, height)
    grain = ValueNoise(1.7, 5, width, height)
    grass = Fractal(width / 60.0, 3, 23, width, height)
    hills = [
        # base, waves, colour near, colour far, haze
        (height * 0.50, [(height * 0.035, 2.0, 0.3), (height * 0.015, 7.0, 1.1)],
         (96, 72, 118), 0.55),
        (height * 0.55, [(height * 0.045, 1.3, 2.0), (height * 0.012, 9.0, 0.2)],
         (58, 62, 88), 0.35),
        (height * 0.63, [(height * 0.05, 0.9, 4.1), (height * 0.02, 4.0, 1.7)],
         (34, 58, 44), 0.15),
    ]
    lake_top, lake_bottom = height * 0.66, height * 0.76
    meadow_line = [ridge(x, width, height * 0.74, [(height * 0.02, 1.6, 0.5),
                                                   (height * 0.006, 11.0, 2.2)])
                   for x in range(width)]
    hill_lines = [[ridge(x, width, b, w) for x in range(width)] for b, w, _, _ in hills]

    # Fir trees on the nearest hill: (x, foot y, height, half width).
    trees = []
    for i in range(14):
        tx = width * (0.05 + 0.9 * hash01(i, 3, 91))
        th = height * (0.06 + 0.05 * hash01(i, 4, 91))
        foot = ridge(tx, width, hills[2][0], hills[2][1]) + height * 0.012
        trees.append((tx, foot, th, th * 0.28))
    # A cabin on the meadow's edge.
    cab_l, cab_r = width * 0.18, width * 0.27
    cab_top, cab_bottom = height * 0.705, height * 0.765
    roof_top = height * 0.665

    rows = []
    for y in range(height):
        row = bytearray(width * 3)
        ty = y / float(height)
        sky_row = gradient(sky, ty / 0.56)
        for x in range(width):
            n = grain.at(x, y) - 0.5
            if y < horizon and y < hill_lines[0][x]:
                c = sky_row
                # Sun and its glow.
                d = math.hypot(x - sun_x, y - sun_y)
                glow = math.exp(-d / (height * 0.12))
                c = mix(c, (255, 214, 150), 0.65 * glow)
                if d < sun_r:
                    c = mix(c, (255, 246, 214), smoothstep(sun_r, sun_r * 0.85, d))
                # Clouds: thin bands, lit from below.
                band = smoothstep(0.08, 0.42, ty) * (1.0 - smoothstep(0.42, 0.5, ty))
                cl = clouds.at(x * 0.5, y * 2.2)
                cover = smoothstep(0.52, 0.72, cl) * band
                if cover > 0.0:
                    lit = mix((170, 120, 160), (250, 170, 140), smoothstep(0.2, 0.42, ty))
                    c = mix(c, lit, cover * 0.8)
            else:
                c = None
                for k in range(2, -1, -1):
                    if y >= hill_lines[k][x]:
                        _, _, colour, haze = hills[k]
                        shade = 0.85 + 0.3 * grass.at(x * 0.7, y * 1.3)
                        c = (colour[0] * shade, colour[1] * shade, colour[2] * shade)
                        c = mix(c, (235, 150, 120), haze * (1.0 - (y - hill_lines[k][x]) /
                                                            (height * 0.4)))
                        break
                if lake_top <= y < lake_bottom and y >= hill_lines[2][x]:
                    # Reflection of the sky, with ripples.
                    ry = horizon - (y - lake_top) * 3.0 + 6.0 * math.sin(x * 0.05 + y * 0.9)
                    rt = max(0.0, min(1.0, ry / float(horizon)))
                    c = mix(gradient(sky, rt), (40, 50, 90), 0.35)
                    if abs(x - sun_x) < sun_r * (1.6 - (y - lake_top) / (lake_bottom - lake_top)):
                        c = mix(c, (255, 220, 160), 0.5 * (0.5 + 0.5 * math.sin(y * 1.7)))
                if y >= meadow_line[x]:
                    g = grass.at(x, y * 0.4)
                    depth = (y - meadow_line[x]) / float(height - meadow_line[x] + 1)
                    c = mix((70, 96, 36), (132, 120, 40), g)
                    c = mix(c, (30, 44, 18), 0.5 * depth)
                    # Blades of grass.
                    if hash01(x // 2, y // 9, 77) > 0.86:
                        c = mix(c, (190, 170, 70), 0.45)
                if c is None:
                    c = sky_row
            # Trees, drawn over whatever is behind.
            for tx, foot, th, hw in trees:
                if foot - th <= y <= foot:
                    half = hw * (y - (foot - th)) / th
                    # Three tiers of branches.
                    tier = ((y - (foot - th)) / th * 3.0) % 1.0
                    half *= 0.6 + 0.4 * tier
                    if abs(x - tx) <= half:
                        lit = 0.7 + 0.3 * (x - tx) / (half + 1.0)
                        c = (18 * lit, 46 * lit, 28 * lit)
                elif foot < y <= foot + th * 0.08 and abs(x - tx) <= th * 0.03:
                    c = (60, 40, 26)
            # The cabin.
            if cab_l <= x <= cab_r:
                if cab_top <= y <= cab_bottom:
                    c = (120, 62, 40) if int((y - cab_top) / 6) % 2 == 0 else (104, 52, 34)
                    wx = (x - cab_l) / (cab_r - cab_l)
                    if 0.2 < wx < 0.4 and cab_top + 12 < y < cab_top + 40:
                        c = (255, 210, 120)
                    if 0.6 < wx < 0.78 and y > cab_top + 20:
                        c = (60, 36, 24)
                elif roof_top <= y < cab_top:
                    mid = (cab_l + cab_r) / 2.0
                    span = (cab_r - cab_l) / 2.0 * (y - roof_top) / (cab_top - roof_top) + 8
                    if abs(x - mid) <= span:
                        c = (70, 40, 38)
            o = x * 3
            row[o] = clamp8(c[0] + 9.0 * n)
            row[o + 1] = clamp8(c[1] + 9.0 * n)
            row[o + 2] = clamp8(c[2] + 9.0 * n)
        rows.append(bytes(row))
    return rows


def render_coast(width, height):
    """A spring morning at the coast: blue sky with clouds, sea, a sandy
    beach, striped umbrellas, a ball and a lighthouse on the headland."""
    horizon = height * 0.45
    beach = [ridge(x, width, height * 0.66, [(height * 0.03, 0.8, 1.0),
                                              (height * 0.01, 5.0, 0.3)]) for x in range(width)]
    cloud = Fractal(width / 3.0, 5, 41, width, height)
    waves = Fractal(width / 40.0, 3, 43, width, height)
    sand = Fractal(width / 90.0, 3, 47, width, height)
    grain = ValueNoise(1.6, 49, width, height)
    head = [ridge(x, width, height * 0.40, [(height * 0.05, 0.7, 2.6),
                                             (height * 0.01, 13.0, 0.0)]) for x in range(width)]
    head_end = width * 0.30
    light_x, light_w = width * 0.16, width * 0.018
    light_top = height * 0.22
    umbrellas = [(width * 0.52, height * 0.70, height * 0.11, [(220, 40, 40), (250, 245, 235)]),
                 (width * 0.74, height * 0.78, height * 0.14, [(30, 110, 210), (250, 210, 40)]),
                 (width * 0.90, height * 0.72, height * 0.10, [(40, 170, 90), (250, 245, 235)])]
    ball_x, ball_y, ball_r = width * 0.62, height * 0.86, height * 0.035

    rows = []
    for y in range(height):
        row = bytearray(width * 3)
        for x in range(width):
            n = grain.at(x, y) - 0.5
            if y < horizon:
                t = y / horizon
                c = mix((40, 100, 190), (160, 200, 235), t ** 0.8)
                cl = cloud.at(x * 0.6, y * 1.6)
                cover = smoothstep(0.5, 0.68, cl) * (1.0 - 0.6 * t)
                if cover > 0.0:
                    shade = 0.82 + 0.18 * smoothstep(0.5, 0.8, cloud.at(x * 0.6 + 9, y * 1.6 - 14))
                    c = mix(c, (250 * shade, 250 * shade, 252 * shade), cover)
            else:
                d = (y - horizon) / (height - horizon)
                w = waves.at(x * 0.35, y * 3.0)
                c = mix((30, 80, 130), (40, 140, 160), d)
                c = mix(c, (200, 230, 240), smoothstep(0.62, 0.8, w) * (0.3 + 0.5 * d))
            # Headland with the lighthouse.
            if x < head_end + 60:
                # The headland slopes down into the sea at its end.
                top = head[x] + smoothstep(head_end - 140, head_end + 60, x) * (horizon - head[x])
                if top <= y < horizon + 3:
                    rock = 0.75 + 0.35 * sand.at(x * 2.0, y * 2.0)
                    c = (70 * rock, 96 * rock, 60 * rock)
            if abs(x - light_x) <= light_w and light_top <= y < head[int(light_x)]:
                taper = 1.0 - 0.3 * (head[int(light_x)] - y) / (head[int(light_x)] - light_top)
                if abs(x - light_x) <= light_w * taper:
                    c = (235, 235, 230) if int((y - light_top) / 18) % 2 else (200, 40, 40)
            if abs(x - light_x) <= light_w * 0.9 and light_top - 22 <= y < light_top:
                c = (250, 240, 170)
            # Beach.
            if y >= beach[x]:
                s = sand.at(x, y)
                c = mix((214, 190, 140), (236, 214, 170), s)
                edge = y - beach[x]
                if edge < 10:
                    c = mix((245, 245, 240), c, edge / 10.0)
                if hash01(x // 3, y // 3, 51) > 0.985:
                    c = mix(c, (120, 100, 80), 0.6)
            # Umbrellas: pole and striped canopy.
            for ux, uy, uh, stripes in umbrellas:
                top = uy - uh
                if top <= y <= uy and abs(x - ux) <= 3:
                    c = (90, 80, 70)
                cr = uh * 0.55
                dy = top - y
                if 0 <= dy <= cr * 0.45:
                    span = cr * math.sqrt(max(0.0, 1.0 - (dy / (cr * 0.45)) ** 2))
                    if abs(x - ux) <= span:
                        ang = math.atan2(x - ux, cr * 0.45 - dy + 1.0)
                        c = stripes[int((ang + 2.0) * 4.0) % 2]
                        c = mix(c, (0, 0, 0), 0.25 * dy / (cr * 0.45))
                # Shadow on the sand.
                if ((x - ux - 20) / (cr * 0.8)) ** 2 + ((y - uy - 6) / 8.0) ** 2 < 1.0:
                    c = mix(c, (0, 0, 0), 0.25)
            # A ball with coloured panels.
            d = math.hypot(x - ball_x, y - ball_y)
            if d <= ball_r:
                panel = int((math.atan2(y - ball_y, x - ball_x) + math.pi) / (math.pi / 3))
                c = [(230, 40, 40), (250, 250, 250), (40, 90, 220), (250, 250, 250),
                     (250, 200, 30), (250, 250, 250)][panel % 6]
                light = 1.0 - 0.45 * smoothstep(0.2, 1.0, d / ball_r)
                c = (c[0] * light, c[1] * light, c[2] * light)
            o = x * 3
            row[o] = clamp8(c[0] + 8.0 * n)
            row[o + 1] = clamp8(c[1] + 8.0 * n)
            row[o + 2] = clamp8(c[2] + 8.0 * n)
        rows.append(bytes(row))
    return rows


# ---------------------------------------------------------------------------
# EXIF and JPEG
# ---------------------------------------------------------------------------

def exif_segment(date_time, width, height):
    """An APP1 segment holding a little-endian TIFF structure: IFD0 with
    Orientation, DateTime and the Exif IFD pointer; the Exif IFD with
    ExifVersion, DateTimeOriginal, DateTimeDigitized and the pixel size."""
    assert len(date_time) == 19
    date = date_time.encode("ascii") + b"\0"
    SHORT, LONG, ASCII, UNDEFINED = 3, 4, 2, 7

    def ifd(entries, start, next_offset=0):
        """Bytes of an IFD placed at `start`, its out-of-line values after it."""
        count = len(entries)
        data_offset = start + 2 + 12 * count + 4
        body = struct.pack("<H", count)
        extra = b""
        for tag, kind, n, value in sorted(entries):
            if isinstance(value, bytes) and len(value) > 4:
                body += struct.pack("<HHII", tag, kind, n, data_offset + len(extra))
                extra += value
                if len(extra) % 2:
                    extra += b"\0"
            elif isinstance(value, bytes):
                body += struct.pack("<HHI", tag, kind, n) + value.ljust(4, b"\0")
            elif kind == SHORT:
                body += struct.pack("<HHIHH", tag, kind, n, value, 0)
            else:
                body += struct.pack("<HHII", tag, kind, n, value)
        return body + struct.pack("<I", next_offset) + extra

    ifd0_entries = [(0x0112, SHORT, 1, 1), (0x0132, ASCII, 20, date), (0x8769, LONG, 1, 0)]
    probe = ifd(ifd0_entries, 8)
    exif_start = 8 + len(probe)
    ifd0_entries[-1] = (0x8769, LONG, 1, exif_start)
    ifd0 = ifd(ifd0_entries, 8)
    exif_ifd = ifd([(0x9000, UNDEFINED, 4, b"0230"), (0x9003, ASCII, 20, date),
                    (0x9004, ASCII, 20, date), (0xA002, LONG, 1, width),
                    (0xA003, LONG, 1, height)], exif_start)
    tiff = b"II*\0" + struct.pack("<I", 8) + ifd0 + exif_ifd
    payload = b"Exif\0\0" + tiff
    return b"\xFF\xE1" + struct.pack(">H", len(payload) + 2) + payload


def write_ppm(path, width, height, rows):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        for r in rows:
            f.write(r)


def encode(rows, width, height, cjpeg_args, date_time, out_path):
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "scene.ppm")
        write_ppm(ppm, width, height, rows)
        jpeg = subprocess.run(["cjpeg", "-optimize"] + cjpeg_args + [ppm], check=True,
                              stdout=subprocess.PIPE).stdout
    if jpeg[:2] != b"\xFF\xD8":
        raise RuntimeError("cjpeg did not write a JPEG")
    data = jpeg[:2] + exif_segment(date_time, width, height) + jpeg[2:]
    with open(out_path, "wb") as f:
        f.write(data)
    print("%s: %d x %d, %d bytes, taken %s" % (out_path, width, height, len(data), date_time))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.relpath(os.path.join(here, "..", "samples"))
    os.makedirs(out, exist_ok=True)
    encode(render_sunset(1600, 1200), 1600, 1200, ["-sample", "2x2", "-quality", "80"],
           "2011:07:04 18:30:05", os.path.join(out, "sunset_420.jpg"))
    encode(render_coast(1200, 900), 1200, 900, ["-sample", "1x1", "-quality", "90"],
           "2019:03:16 10:42:17", os.path.join(out, "coast_444.jpg"))


if __name__ == "__main__":
    main()
