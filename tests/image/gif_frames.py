# Decodes a GIF with Pillow for the image tests: writes every frame as RGBA bytes of the logical
# screen into OUT and prints what the file says about itself, one "key value" line each.
import sys

from PIL import Image

im = Image.open(sys.argv[1])
print("size", im.size[0], im.size[1])
print("frames", im.n_frames)
print("loop", im.info.get("loop", -1))
with open(sys.argv[2], "wb") as out:
    for i in range(im.n_frames):
        im.seek(i)
        im.load()
        print("duration", im.info.get("duration", -1))
        print("comment", len(im.info.get("comment", b"")), im.info.get("comment", b"").hex())
        out.write(im.convert("RGBA").tobytes())
