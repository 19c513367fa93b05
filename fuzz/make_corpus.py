#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small valid and broken TGA images and
OBJ models, one file each, into fuzz/corpus/tga and fuzz/corpus/obj."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def tga(width, height, bits, image_type=2, pixels=None, id_field=b"", colour_map=None,
        descriptor=0):
    map_type = 1 if colour_map is not None else 0
    map_length = len(colour_map) // 3 if colour_map is not None else 0
    header = struct.pack("<BBBHHBHHHHBB", len(id_field), map_type, image_type, 0, map_length,
                         24 if map_type else 0, 0, 0, width, height, bits, descriptor)
    if pixels is None:
        pixels = bytes((i * 37) & 255 for i in range(width * height * ((bits + 7) // 8)))
    return header + id_field + (colour_map or b"") + pixels


def rle(pixel_bytes, runs):
    """Run-length packets: (count, literal?) with generated pixel bytes."""
    out = b""
    for count, literal in runs:
        if literal:
            out += bytes([count - 1]) + bytes((i * 11) & 255 for i in range(count * pixel_bytes))
        else:
            out += bytes([0x80 | (count - 1)]) + bytes(range(7, 7 + pixel_bytes))
    return out


tgas = {
    "rgb-2x2.tga": tga(2, 2, 24),
    "rgba-4x4.tga": tga(4, 4, 32),
    "rgba-top-first-3x5.tga": tga(3, 5, 32, descriptor=0x28),
    "grey-3x3.tga": tga(3, 3, 8, image_type=3),
    "rgb16-5x2.tga": tga(5, 2, 16),
    "rgb15-2x3.tga": tga(2, 3, 15),
    "mapped-4x2.tga": tga(4, 2, 8, image_type=1, colour_map=bytes(range(48)),
                          pixels=bytes(i % 16 for i in range(8))),
    "rle-rgb-8x2.tga": tga(8, 2, 24, image_type=10, pixels=rle(3, [(5, False), (11, True)])),
    "rle-grey-6x6.tga": tga(6, 6, 8, image_type=11, pixels=rle(1, [(20, True), (16, False)])),
    "with-id-2x1.tga": tga(2, 1, 24, id_field=b"film"),
    "cut-pixels.tga": tga(4, 4, 24)[:30],
    "cut-header.tga": tga(2, 2, 24)[:9],
    "zero-width.tga": tga(0, 2, 24, pixels=b"\0" * 6),
    "bad-type.tga": tga(2, 2, 24, image_type=99),
    "bad-depth.tga": tga(2, 2, 13, pixels=b"\0" * 8),
    "rle-cut.tga": tga(8, 8, 24, image_type=10, pixels=rle(3, [(5, False), (11, True)])),
}

objs = {
    "triangle.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
    "textured-quad.obj": b"v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                         b"vn 0 0 1\nf 1/1/1 2/2/1 3/3/1 4/4/1\n",
    "negative-indices.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf -4 -3 -2\nf -3 -1 -2\n",
    "groups.obj": b"o a\nv 0 0 0\nv 1 0 0\nv 0 1 0\ng one\nusemtl red\nf 1 2 3\no b\n"
                  b"v 0 0 1\nv 1 0 1\nv 0 1 1\ns 1\nf 4 5 6\n",
    "polygon.obj": b"v 0 0 0\nv 2 0 0\nv 3 1 0\nv 2 2 0\nv 0 2 0\nv -1 1 0\nf 1 2 3 4 5 6\n",
    "lines-and-points.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\np 3\nf 1 2 3\n",
    "only-lines.obj": b"v 0 0 0\nv 1 0 0\nl 1 2\n",
    "no-faces.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\n",
    "empty.obj": b"",
    "bad-index.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\n",
    "zero-index.obj": b"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n",
    "not-numbers.obj": b"v a b c\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
    "huge-numbers.obj": b"v 1e39 0 0\nv 1 -1e39 0\nv 0 1 nan\nf 1 2 3\n",
    "degenerate.obj": b"v 0 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\nf 1 1 1\n",
    "mtllib.obj": b"mtllib missing.mtl\nusemtl x\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
    "crlf.obj": b"v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nvt 0 0 0\r\nf 1/1 2/1 3/1\r\n",
}


def write(folder, files):
    path = os.path.join(here, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


write("tga", tgas)
write("obj", objs)
