"""Reading linear EXR images and writing sRGB previews (OpenImageIO)."""

import numpy as np
import OpenImageIO as oiio


def read_rgb(path):
    """The first three channels of an image (R, G, B by name when present)
    as float64 (height, width, 3)."""
    inp = oiio.ImageInput.open(path)
    if inp is None:
        raise IOError("cannot open %s: %s" % (path, oiio.geterror()))
    header = inp.spec()
    pixels = inp.read_image(0, 0, 0, header.nchannels, oiio.FLOAT)
    inp.close()
    names = [n.split(".")[-1] for n in header.channelnames]
    order = [names.index(c) for c in "RGB"] if all(c in names for c in "RGB") else [0, 0, 0]
    image = np.asarray(pixels, np.float64).reshape(header.height, header.width, header.nchannels)
    return np.ascontiguousarray(image[..., order])


def write_preview(path, rgb, exposure=1.0):
    """8-bit sRGB PNG of a linear image, clipped at 1 after `exposure`."""
    x = np.clip(np.asarray(rgb) * exposure, 0.0, 1.0)
    srgb = np.where(x <= 0.0031308, 12.92 * x, 1.055 * np.power(x, 1 / 2.4) - 0.055)
    out = oiio.ImageOutput.create(path)
    header = oiio.ImageSpec(x.shape[1], x.shape[0], 3, oiio.UINT8)
    out.open(path, header)
    if not out.write_image(np.ascontiguousarray(srgb * 255 + 0.5, dtype=np.uint8)):
        raise IOError("cannot write %s: %s" % (path, out.geterror()))
    out.close()


def write_exr(path, rgb):
    """32-bit float RGB EXR."""
    x = np.ascontiguousarray(rgb, dtype=np.float32)
    out = oiio.ImageOutput.create(path)
    out.open(path, oiio.ImageSpec(x.shape[1], x.shape[0], 3, oiio.FLOAT))
    if not out.write_image(x):
        raise IOError("cannot write %s: %s" % (path, out.geterror()))
    out.close()
