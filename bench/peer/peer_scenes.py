"""The comparison scenes, written from one neutral description.

Each scene is a JSON file shaped like the Cornell box scene of scenes/
(vertices, triangles, a material name per triangle, named materials, camera,
background) with a few additions both renderers need:

- material types: "lambertian" (albedo, optional albedo_texture), "metal"
  (base_color, roughness; GGX), "dielectric" (ior, roughness; GGX
  interface), "emitter" (radiance, one-sided along the triangle normal);
- "uvs": one [u, v] per vertex, v downwards (glTF's convention);
- "textures": {name: {"file": ..., "srgb": true}};
- "environment": {"file": an equirectangular half-float .exr, rows from +Y
  down,
  column u = phi / 2 pi with direction (sin t cos phi, cos t, sin t sin phi)};
- "triangle_group": a name per triangle, used for region masks;
- "max_bounces".

Coordinates are right-handed with +Y up, as in the Cornell box file. All
triangles are flat shaded (no vertex normals), so both renderers shade the
same facets.

`write_scenes(out_dir, repo_root)` writes every scene plus its assets (.exr
environment, .png texture, .gltf file for the textured scene) and returns
{name: path of the neutral JSON}.
"""

import base64
import json
import math
import os
import struct
import zlib

MAX_BOUNCES = 8
SCENE_NAMES = ("cornell", "spheres_env", "caustic", "textured")


# ---- Assets ------------------------------------------------------------------

def write_exr_half(path, width, height, pixel):
    """Uncompressed scanline OpenEXR with half-float R, G, B, top row first.
    `pixel(x, y)` returns linear RGB.

    The comparison's environment is written this way rather than as a
    Radiance .hdr: RGBE decoders disagree by half a mantissa step (Blender
    adds 0.5 before scaling, as Radiance itself does; stb_image, which
    Vitrel's command line uses, does not), which made Cycles' sky 0.2 to
    0.5 % brighter, differently in every row of the gradient. Half floats
    are read exactly by both."""
    def attribute(name, kind, value):
        return name.encode() + b"\0" + kind.encode() + b"\0" + struct.pack("<i", len(value)) + value

    half_type = 1
    channels = b"".join(c.encode() + b"\0" + struct.pack("<iB3xii", half_type, 0, 1, 1) for c in "BGR") + b"\0"
    window = struct.pack("<iiii", 0, 0, width - 1, height - 1)
    header = (b"\x76\x2f\x31\x01" + struct.pack("<i", 2) +
              attribute("channels", "chlist", channels) +
              attribute("compression", "compression", b"\0") +
              attribute("dataWindow", "box2i", window) +
              attribute("displayWindow", "box2i", window) +
              attribute("lineOrder", "lineOrder", b"\0") +
              attribute("pixelAspectRatio", "float", struct.pack("<f", 1.0)) +
              attribute("screenWindowCenter", "v2f", struct.pack("<ff", 0.0, 0.0)) +
              attribute("screenWindowWidth", "float", struct.pack("<f", 1.0)) + b"\0")
    lines = []
    for y in range(height):
        texels = [pixel(x, y) for x in range(width)]
        # Channels in the header's (alphabetical) order, each a whole row.
        data = b"".join(struct.pack("<%de" % width, *[t[c] for t in texels]) for c in (2, 1, 0))
        lines.append(struct.pack("<ii", y, len(data)) + data)
    offset = len(header) + 8 * height
    table = bytearray()
    for line in lines:
        table += struct.pack("<Q", offset)
        offset += len(line)
    with open(path, "wb") as f:
        f.write(header + bytes(table) + b"".join(lines))


def write_png(path, width, height, pixel):
    """8-bit RGB PNG; `pixel(x, y)` returns three bytes' values, top row first."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw += bytes(pixel(x, y))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def sky_radiance(x, y, width, height):
    """Procedural sky: horizon-to-zenith gradient, darker ground, and one
    bright rectangular patch standing in for the sun."""
    theta = math.pi * (y + 0.5) / height
    elevation = 0.5 * math.pi - theta
    if elevation < 0.0:
        base = (0.18, 0.15, 0.12)
    else:
        s = math.sin(elevation)
        base = (0.9 - 0.5 * s, 0.95 - 0.35 * s, 1.0 - 0.1 * s)
    sun_x, sun_y = width * 3 // 8, height // 5
    if abs(x - sun_x) <= 3 and abs(y - sun_y) <= 2:
        return (30.0, 27.0, 22.0)
    return base


def texture_texel(x, y, size):
    """A smooth colourful pattern: neighbouring texels differ little, so
    interpolating before or after the sRGB decode gives the same result."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    r = 0.5 + 0.4 * math.sin(2 * math.pi * u)
    g = 0.5 + 0.4 * math.sin(2 * math.pi * v)
    b = 0.5 + 0.4 * math.cos(2 * math.pi * (u + v))
    return tuple(int(round(255 * c)) for c in (r, g, b))


# ---- Geometry builders -------------------------------------------------------

class Mesh:
    def __init__(self):
        self.vertices, self.triangles, self.materials, self.groups, self.uvs = [], [], [], [], []

    def add_quad(self, corners, material, group, uvs=None):
        """Corners in counter-clockwise order seen from the side the normal
        points to."""
        base = len(self.vertices)
        self.vertices += [list(map(float, c)) for c in corners]
        self.uvs += uvs if uvs else [[0.0, 0.0]] * 4
        for tri in ((0, 1, 2), (0, 2, 3)):
            self.triangles.append([base + i for i in tri])
            self.materials.append(material)
            self.groups.append(group)

    def add_sphere(self, centre, radius, material, group, segments=96, rings=48):
        base = len(self.vertices)
        for r in range(rings + 1):
            theta = math.pi * r / rings
            for s in range(segments + 1):
                phi = 2 * math.pi * s / segments
                d = (math.sin(theta) * math.cos(phi), math.cos(theta), math.sin(theta) * math.sin(phi))
                self.vertices.append([centre[i] + radius * d[i] for i in range(3)])
                self.uvs.append([s / segments, r / rings])
        row = segments + 1
        for r in range(rings):
            for s in range(segments):
                a, b = base + r * row + s, base + r * row + s + 1
                c, d = a + row, b + row
                # Outward normals: (a, b, c) winds counter-clockwise seen from outside.
                if r > 0:
                    self.triangles.append([a, b, c])
                    self.materials.append(material)
                    self.groups.append(group)
                if r < rings - 1:
                    self.triangles.append([b, d, c])
                    self.materials.append(material)
                    self.groups.append(group)

    def add_box(self, lo, hi, material, group):
        x0, y0, z0 = lo
        x1, y1, z1 = hi
        full = [[0, 1], [1, 1], [1, 0], [0, 0]]
        centre = [(lo[k] + hi[k]) / 2 for k in range(3)]
        faces = [
            [(x0, y1, z0), (x0, y1, z1), (x1, y1, z1), (x1, y1, z0)],
            [(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0)],
            [(x1, y0, z1), (x1, y1, z1), (x0, y1, z1), (x0, y0, z1)],
            [(x0, y0, z0), (x0, y0, z1), (x0, y1, z1), (x0, y1, z0)],
            [(x1, y0, z1), (x1, y0, z0), (x1, y1, z0), (x1, y1, z1)],
        ]
        for f in faces:
            # Outward normals: the face normal points away from the centre.
            n = _cross([f[1][k] - f[0][k] for k in range(3)], [f[2][k] - f[0][k] for k in range(3)])
            assert sum(n[k] * (f[0][k] - centre[k]) for k in range(3)) > 0
            self.add_quad(f, material, group, full)

    def scene(self, name, materials, camera, **extra):
        d = {"name": name, "materials": materials, "vertices": self.vertices,
             "triangles": self.triangles, "triangle_material": self.materials,
             "triangle_group": self.groups, "uvs": self.uvs, "camera": camera,
             "max_bounces": MAX_BOUNCES}
        d.update(extra)
        return d


def camera(position, look_at, vfov):
    return {"type": "pinhole", "position": position, "look_at": look_at,
            "up": [0.0, 1.0, 0.0], "vfov_deg": vfov, "aspect": 1.0}


# ---- Scenes ------------------------------------------------------------------

def cornell_scene(repo_root):
    """The Cornell box file as it is, with the bounce limit added. Its light
    is one-sided (emits along -Y only)."""
    candidates = [os.path.join(repo_root, "scenes", "cornell_box.json")]
    parent = os.path.abspath(repo_root)
    while os.path.dirname(parent) != parent:  # a shared/ folder beside the repository or above it
        parent = os.path.dirname(parent)
        candidates.append(os.path.join(parent, "shared", "scenes", "cornell_box.json"))
    for candidate in candidates:
        if os.path.exists(candidate):
            with open(candidate) as f:
                d = json.load(f)
            break
    else:
        raise FileNotFoundError("cornell_box.json not found in scenes/ or a shared/scenes/ above the repository")
    d["name"] = "cornell"
    d["max_bounces"] = MAX_BOUNCES
    return d


def spheres_env_scene():
    m = Mesh()
    m.add_quad([(-10, 0, -10), (-10, 0, 10), (10, 0, 10), (10, 0, -10)], "floor", "floor")
    m.add_sphere((-2.2, 1.0, 0.0), 1.0, "rough_metal", "rough_metal")
    m.add_sphere((0.0, 1.0, 0.0), 1.0, "glass", "glass")
    m.add_sphere((2.2, 1.0, 0.0), 1.0, "rough_glass", "rough_glass")
    materials = {
        "floor": {"type": "lambertian", "albedo": [0.5, 0.5, 0.5]},
        # A white metal: the Fresnel term is 1 at every angle in both
        # renderers, so only the GGX lobe is compared.
        "rough_metal": {"type": "metal", "base_color": [1.0, 1.0, 1.0], "roughness": 0.35},
        "glass": {"type": "dielectric", "ior": 1.5, "roughness": 0.0},
        "rough_glass": {"type": "dielectric", "ior": 1.5, "roughness": 0.3},
    }
    return m.scene("spheres_env", materials, camera([0.0, 2.0, -8.0], [0.0, 0.8, 0.0], 35.0),
                   environment={"file": "sky.exr", "strength": 1.0},
                   background_radiance=[0.0, 0.0, 0.0])


def caustic_scene():
    m = Mesh()
    m.add_quad([(-6, 0, -6), (-6, 0, 6), (6, 0, 6), (6, 0, -6)], "floor", "floor")
    m.add_quad([(-6, 0, 3), (-6, 6, 3), (6, 6, 3), (6, 0, 3)], "floor", "back_wall")
    m.add_sphere((0.0, 1.3, 0.0), 1.0, "glass", "glass")
    h = 0.3
    # Emits downwards: counter-clockwise seen from below.
    m.add_quad([(-h, 5, -h), (h, 5, -h), (h, 5, h), (-h, 5, h)], "light", "light")
    materials = {
        "floor": {"type": "lambertian", "albedo": [0.8, 0.8, 0.8]},
        "glass": {"type": "dielectric", "ior": 1.5, "roughness": 0.0},
        "light": {"type": "emitter", "radiance": [100.0, 100.0, 100.0], "albedo": [0.0, 0.0, 0.0],
                  "one_sided": True},
    }
    return m.scene("caustic", materials, camera([0.0, 3.5, -7.0], [0.0, 0.8, 0.0], 40.0),
                   background_radiance=[0.0, 0.0, 0.0])


TEXTURE_SIZE = 256


def textured_scene():
    m = Mesh()
    tile = 2.0
    m.add_quad([(-4, 0, -4), (-4, 0, 4), (4, 0, 4), (4, 0, -4)], "textured", "floor",
               [[0, 0], [0, tile], [tile, tile], [tile, 0]])
    m.add_box((-1.0, 0.0, -1.0), (1.0, 1.5, 1.0), "textured", "box")
    # Large one-sided light over the scene, emitting downwards.
    m.add_quad([(-2, 4, -2), (2, 4, -2), (2, 4, 2), (-2, 4, 2)], "light", "light")
    materials = {
        "textured": {"type": "lambertian", "albedo": [1.0, 1.0, 1.0], "albedo_texture": "pattern"},
        "light": {"type": "emitter", "radiance": [1.0, 1.0, 1.0], "albedo": [0.0, 0.0, 0.0],
                  "one_sided": True},
    }
    return m.scene("textured", materials, camera([3.5, 3.5, -6.0], [0.0, 0.6, 0.0], 40.0),
                   textures={"pattern": {"file": "pattern.png", "srgb": True}},
                   background_radiance=[0.0, 0.0, 0.0], gltf="textured.gltf")


# ---- glTF export of a neutral scene -------------------------------------------

def write_gltf(scene, path):
    """One glTF 2.0 file (buffer embedded) with one mesh primitive per
    material: flat shaded (no normals), baseColorTexture for textured
    Lambert materials, emissive materials for the lights (single-sided)."""
    names = list(scene["materials"])
    textures = list(scene.get("textures", {}))
    blob = bytearray()
    accessors, views, primitives = [], [], []

    def add_view(data, target):
        while len(blob) % 4:
            blob.append(0)
        views.append({"buffer": 0, "byteOffset": len(blob), "byteLength": len(data), "target": target})
        blob.extend(data)
        return len(views) - 1

    for mi, name in enumerate(names):
        tris = [t for t, mat in zip(scene["triangles"], scene["triangle_material"]) if mat == name]
        if not tris:
            continue
        # Unshared vertices: the triangles' corners in order.
        pos = [scene["vertices"][i] for t in tris for i in t]
        uv = [scene["uvs"][i] for t in tris for i in t]
        pv = add_view(struct.pack("<%df" % (3 * len(pos)), *[c for p in pos for c in p]), 34962)
        uvv = add_view(struct.pack("<%df" % (2 * len(uv)), *[c for p in uv for c in p]), 34962)
        lo = [min(p[k] for p in pos) for k in range(3)]
        hi = [max(p[k] for p in pos) for k in range(3)]
        accessors.append({"bufferView": pv, "componentType": 5126, "count": len(pos), "type": "VEC3",
                          "min": lo, "max": hi})
        accessors.append({"bufferView": uvv, "componentType": 5126, "count": len(uv), "type": "VEC2"})
        primitives.append({"attributes": {"POSITION": len(accessors) - 2, "TEXCOORD_0": len(accessors) - 1},
                           "material": mi})

    materials = []
    for name in names:
        mat = scene["materials"][name]
        g = {"name": name, "doubleSided": False}
        pbr = {"metallicFactor": 0.0, "roughnessFactor": 1.0}
        if mat["type"] == "emitter":
            pbr["baseColorFactor"] = [0.0, 0.0, 0.0, 1.0]
            g["emissiveFactor"] = mat["radiance"]
        else:
            pbr["baseColorFactor"] = list(mat["albedo"]) + [1.0]
            if "albedo_texture" in mat:
                pbr["baseColorTexture"] = {"index": textures.index(mat["albedo_texture"])}
        g["pbrMetallicRoughness"] = pbr
        # A glTF material is a dielectric with a specular layer (F0 0.04);
        # a specular factor of 0 leaves the pure Lambert (or black) surface.
        g["extensions"] = {"KHR_materials_specular": {"specularFactor": 0.0}}
        materials.append(g)

    doc = {
        "asset": {"version": "2.0", "generator": "vitrel bench/peer"},
        "extensionsUsed": ["KHR_materials_specular"],
        "scene": 0,
        "scenes": [{"nodes": [0, 1]}],
        "nodes": [{"mesh": 0}, {"camera": 0, "matrix": camera_matrix(scene["camera"])}],
        "meshes": [{"primitives": primitives}],
        "cameras": [{"type": "perspective", "perspective": {
            "yfov": math.radians(scene["camera"]["vfov_deg"]), "aspectRatio": 1.0,
            "znear": 0.01, "zfar": 1000.0}}],
        "materials": materials,
        "images": [{"uri": scene["textures"][t]["file"]} for t in textures],
        "samplers": [{"magFilter": 9729, "minFilter": 9729, "wrapS": 10497, "wrapT": 10497}],
        "textures": [{"source": i, "sampler": 0} for i in range(len(textures))],
        "accessors": accessors,
        "bufferViews": views,
        "buffers": [{"byteLength": len(blob),
                     "uri": "data:application/octet-stream;base64," + base64.b64encode(bytes(blob)).decode()}],
    }
    if not textures:
        for k in ("images", "samplers", "textures"):
            del doc[k]
    with open(path, "w") as f:
        json.dump(doc, f)


def camera_matrix(cam):
    """Column-major 4x4 placing a glTF camera (looks along -Z, +Y up)."""
    p, t, up = cam["position"], cam["look_at"], cam["up"]
    f = _normalise([t[i] - p[i] for i in range(3)])
    r = _normalise(_cross(f, up))
    u = _cross(r, f)
    back = [-c for c in f]
    return r + [0.0] + u + [0.0] + back + [0.0] + list(map(float, p)) + [1.0]


def _cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def _normalise(v):
    n = math.sqrt(sum(c * c for c in v))
    return [c / n for c in v]


# ---- All scenes --------------------------------------------------------------

def write_scenes(out_dir, repo_root):
    os.makedirs(out_dir, exist_ok=True)
    write_exr_half(os.path.join(out_dir, "sky.exr"), 128, 64, lambda x, y: sky_radiance(x, y, 128, 64))
    write_png(os.path.join(out_dir, "pattern.png"), TEXTURE_SIZE, TEXTURE_SIZE,
              lambda x, y: texture_texel(x, y, TEXTURE_SIZE))
    scenes = {"cornell": cornell_scene(repo_root), "spheres_env": spheres_env_scene(),
              "caustic": caustic_scene(), "textured": textured_scene()}
    paths = {}
    for name, scene in scenes.items():
        path = os.path.join(out_dir, name + ".json")
        with open(path, "w") as f:
            json.dump(scene, f)
        if "gltf" in scene:
            write_gltf(scene, os.path.join(out_dir, scene["gltf"]))
        paths[name] = path
    return paths


if __name__ == "__main__":
    import sys
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "peer", "scenes")
    for n, p in write_scenes(out, os.path.abspath(os.path.join(here, "..", ".."))).items():
        print(n, p)
