"""Build a neutral comparison scene in Blender and render it with Cycles.

Runs inside Blender (3.4 or later):

    blender -b --factory-startup --python blender_cycles.py -- \
        --scene scenes/cornell.json --out run.exr --size 512 --samples 64 \
        --seed 1 --threads 2 [--index-pass] [--glass-distribution GGX]

Settings chosen to match Vitrel's integrator: fixed sample count, no
adaptive sampling, no denoising, Blackman-Harris pixel filter of 1.5 px, no
clamping, no glossy filter, the scene's bounce limit for every kind of
bounce, linear 32-bit EXR. With --index-pass the image holds the object
index of the first hit instead (for region masks); one sample is enough.
Rough glass uses the Glass BSDF's Multiscatter GGX unless
--glass-distribution names another distribution (GGX: single scattering
only, which loses the multiply scattered energy).

The render's own duration (scene synchronisation, BVH build and sampling,
without Blender's start-up and the file write) is printed as
"cycles_render_seconds <s>".
"""

import json
import math
import os
import sys
import time

import bpy

# Scene coordinates are +Y up (right-handed); Blender's are +Z up. A quarter
# turn about X maps one onto the other and keeps handedness.


def to_blender(p):
    return (p[0], -p[2], p[1])


def parse_args(argv):
    args = {"index_pass": False, "threads": os.cpu_count(), "seed": 0, "glass_distribution": "MULTI_GGX"}
    argv = argv[argv.index("--") + 1:] if "--" in argv else []
    i = 0
    while i < len(argv):
        key = argv[i].lstrip("-").replace("-", "_")
        if key == "index_pass":
            args[key] = True
            i += 1
            continue
        args[key] = argv[i + 1]
        i += 2
    for k in ("size", "samples", "seed", "threads"):
        args[k] = int(args[k])
    return args


def node(tree, kind, **inputs):
    n = tree.nodes.new(kind)
    for name, value in inputs.items():
        n.inputs[name].default_value = value
    return n


def make_material(name, desc, scene_dir, glass_distribution):
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    tree = mat.node_tree
    tree.nodes.clear()
    out = tree.nodes.new("ShaderNodeOutputMaterial")
    kind = desc["type"]
    if kind == "lambertian":
        bsdf = node(tree, "ShaderNodeBsdfDiffuse", Roughness=0.0)
        albedo = list(desc.get("albedo", [0.8, 0.8, 0.8])) + [1.0]
        if "albedo_texture" in desc:
            tex = tree.nodes.new("ShaderNodeTexImage")
            tex_desc = desc["_texture"]
            tex.image = bpy.data.images.load(os.path.join(scene_dir, tex_desc["file"]))
            tex.image.colorspace_settings.name = "sRGB" if tex_desc.get("srgb", True) else "Non-Color"
            tex.interpolation = "Linear"
            tex.extension = "REPEAT"
            uv = tree.nodes.new("ShaderNodeUVMap")
            tree.links.new(uv.outputs["UV"], tex.inputs["Vector"])
            mul = tree.nodes.new("ShaderNodeMixRGB")
            mul.blend_type = "MULTIPLY"
            mul.inputs["Fac"].default_value = 1.0
            mul.inputs["Color2"].default_value = albedo
            tree.links.new(tex.outputs["Color"], mul.inputs["Color1"])
            tree.links.new(mul.outputs["Color"], bsdf.inputs["Color"])
        else:
            bsdf.inputs["Color"].default_value = albedo
        surface = bsdf.outputs["BSDF"]
    elif kind == "metal":
        bsdf = node(tree, "ShaderNodeBsdfGlossy", Roughness=float(desc["roughness"]))
        bsdf.distribution = "MULTI_GGX"
        bsdf.inputs["Color"].default_value = list(desc["base_color"]) + [1.0]
        surface = bsdf.outputs["BSDF"]
    elif kind == "dielectric":
        bsdf = node(tree, "ShaderNodeBsdfGlass", IOR=float(desc["ior"]),
                    Roughness=float(desc["roughness"]))
        bsdf.distribution = "SHARP" if desc["roughness"] == 0 else glass_distribution
        bsdf.inputs["Color"].default_value = (1.0, 1.0, 1.0, 1.0)
        surface = bsdf.outputs["BSDF"]
    elif kind == "emitter":
        # Emits from the front only; the back is a black absorber, as is the
        # front apart from its emission.
        front = node(tree, "ShaderNodeEmission", Strength=1.0)
        front.inputs["Color"].default_value = list(desc["radiance"]) + [1.0]
        back = node(tree, "ShaderNodeEmission", Strength=0.0)
        geometry = tree.nodes.new("ShaderNodeNewGeometry")
        mix = tree.nodes.new("ShaderNodeMixShader")
        tree.links.new(geometry.outputs["Backfacing"], mix.inputs["Fac"])
        tree.links.new(front.outputs["Emission"], mix.inputs[1])
        tree.links.new(back.outputs["Emission"], mix.inputs[2])
        surface = mix.outputs["Shader"]
    else:
        raise ValueError("unknown material type %r" % kind)
    tree.links.new(surface, out.inputs["Surface"])
    return mat


def build_meshes(scene_desc, scene_dir, glass_distribution):
    """One object per material, so that the object index pass separates
    materials; indices start at 1 in the order of the materials table."""
    materials = scene_desc["materials"]
    for desc in materials.values():
        if "albedo_texture" in desc:
            desc["_texture"] = scene_desc["textures"][desc["albedo_texture"]]
    uvs = scene_desc.get("uvs")
    for index, name in enumerate(materials, start=1):
        tris = [t for t, m in zip(scene_desc["triangles"], scene_desc["triangle_material"]) if m == name]
        if not tris:
            continue
        used = sorted({i for t in tris for i in t})
        remap = {v: k for k, v in enumerate(used)}
        verts = [to_blender(scene_desc["vertices"][v]) for v in used]
        faces = [[remap[i] for i in t] for t in tris]
        mesh = bpy.data.meshes.new(name)
        mesh.from_pydata(verts, [], faces)
        if uvs:
            layer = mesh.uv_layers.new(name="UVMap")
            for poly in mesh.polygons:
                for loop_index in poly.loop_indices:
                    u, v = uvs[used[mesh.loops[loop_index].vertex_index]]
                    layer.data[loop_index].uv = (u, 1.0 - v)  # glTF's v runs downwards
        mesh.validate()
        mesh.materials.append(make_material(name, materials[name], scene_dir, glass_distribution))
        obj = bpy.data.objects.new(name, mesh)
        obj.pass_index = index
        bpy.context.scene.collection.objects.link(obj)


def build_camera(cam_desc, scene):
    cam = bpy.data.cameras.new("camera")
    cam.type = "PERSP"
    cam.sensor_fit = "VERTICAL"
    cam.angle_y = math.radians(cam_desc["vfov_deg"])
    cam.clip_start = 1e-3
    cam.clip_end = 1e6
    obj = bpy.data.objects.new("camera", cam)
    scene.collection.objects.link(obj)
    eye = to_blender(cam_desc["position"])
    target = to_blender(cam_desc["look_at"])
    up = to_blender(cam_desc.get("up", [0, 1, 0]))
    from mathutils import Matrix, Vector
    forward = (Vector(target) - Vector(eye)).normalized()
    right = forward.cross(Vector(up)).normalized()
    true_up = right.cross(forward)
    # Blender cameras look along their local -Z with +Y up.
    rot = Matrix((right, true_up, -forward)).transposed()
    obj.matrix_world = Matrix.Translation(eye) @ rot.to_4x4()
    scene.camera = obj


def build_world(scene_desc, scene_dir, scene):
    world = bpy.data.worlds.new("world")
    world.use_nodes = True
    tree = world.node_tree
    tree.nodes.clear()
    out = tree.nodes.new("ShaderNodeOutputWorld")
    background = tree.nodes.new("ShaderNodeBackground")
    env = scene_desc.get("environment")
    if env:
        tex = tree.nodes.new("ShaderNodeTexEnvironment")
        tex.image = bpy.data.images.load(os.path.join(scene_dir, env["file"]))
        # Float texels are scene-linear radiance, as Vitrel reads them.
        tex.image.colorspace_settings.name = "Linear"
        tex.interpolation = "Closest"  # Vitrel's environment is constant per texel
        tex.projection = "EQUIRECTANGULAR"
        coords = tree.nodes.new("ShaderNodeTexCoord")
        mapping = tree.nodes.new("ShaderNodeMapping")
        mapping.vector_type = "VECTOR"
        # Vitrel puts u = 0 at +X of the scene and turns towards +Z; Blender's
        # equirectangular map has its seam half a turn away.
        mapping.inputs["Rotation"].default_value = (0.0, 0.0, ENV_ROTATION_Z)
        tree.links.new(coords.outputs["Generated"], mapping.inputs["Vector"])
        tree.links.new(mapping.outputs["Vector"], tex.inputs["Vector"])
        tree.links.new(tex.outputs["Color"], background.inputs["Color"])
        background.inputs["Strength"].default_value = float(env.get("strength", 1.0))
        # The importance map is built by evaluating the world shader on a
        # grid; twice the map's own width is plenty (the default 1024 costs
        # seconds of set-up per render for a small map).
        world.cycles.sampling_method = "MANUAL"
        world.cycles.sample_map_resolution = max(2 * tex.image.size[0], 64)
    else:
        rgb = scene_desc.get("background_radiance", [0.0, 0.0, 0.0])
        background.inputs["Color"].default_value = list(rgb) + [1.0]
        background.inputs["Strength"].default_value = 1.0
    tree.links.new(background.outputs["Background"], out.inputs["Surface"])
    scene.world = world


ENV_ROTATION_Z = math.pi
# Total support of Vitrel's Blackman-Harris pixel filter, in pixels.
VITREL_FILTER_WIDTH = 1.5


def configure(scene, args, bounces):
    scene.render.engine = "CYCLES"
    c = scene.cycles
    c.device = "CPU"
    c.samples = args["samples"]
    c.use_adaptive_sampling = False
    c.use_denoising = False
    c.seed = args["seed"]
    c.use_animated_seed = False
    c.pixel_filter_type = "BLACKMAN_HARRIS"
    # Cycles stretches its Blackman-Harris window over twice the filter width
    # it is given (so that it is about as sharp as its Gaussian of the same
    # width); Vitrel's window spans 1.5 px in all, hence half of that here.
    c.filter_width = VITREL_FILTER_WIDTH / 2.0
    c.sample_clamp_direct = 0.0
    c.sample_clamp_indirect = 0.0
    c.blur_glossy = 0.0
    c.caustics_reflective = True
    c.caustics_refractive = True
    c.max_bounces = bounces
    c.diffuse_bounces = bounces
    c.glossy_bounces = bounces
    c.transmission_bounces = bounces
    c.volume_bounces = 0
    c.transparent_max_bounces = bounces
    scene.render.threads_mode = "FIXED"
    scene.render.threads = args["threads"]
    scene.render.resolution_x = args["size"]
    scene.render.resolution_y = args["size"]
    scene.render.resolution_percentage = 100
    scene.render.pixel_aspect_x = 1.0
    scene.render.pixel_aspect_y = 1.0
    scene.render.film_transparent = False
    scene.render.use_persistent_data = False
    scene.view_settings.view_transform = "Standard"
    scene.view_settings.look = "None"
    scene.view_settings.exposure = 0.0
    scene.view_settings.gamma = 1.0
    s = scene.render.image_settings
    s.file_format = "OPEN_EXR"
    s.color_mode = "RGB"
    s.color_depth = "32"
    s.exr_codec = "ZIP"
    if args["index_pass"]:
        # Object index of the first hit as the image: a compositor tree routes
        # the IndexOB pass to the output instead of the combined pass.
        scene.view_layers[0].use_pass_object_index = True
        c.samples = 1
        scene.use_nodes = True
        tree = scene.node_tree
        tree.nodes.clear()
        layers = tree.nodes.new("CompositorNodeRLayers")
        composite = tree.nodes.new("CompositorNodeComposite")
        tree.links.new(layers.outputs["IndexOB"], composite.inputs["Image"])
    scene.render.use_compositing = bool(args["index_pass"])
    scene.render.use_sequencer = False


def main():
    args = parse_args(sys.argv)
    with open(args["scene"]) as f:
        desc = json.load(f)
    scene_dir = os.path.dirname(os.path.abspath(args["scene"]))
    scene = bpy.context.scene
    # The factory start-up scene's cube, lamp and camera live in a child
    # collection: remove every object, not only the scene collection's.
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj, do_unlink=True)
    build_meshes(desc, scene_dir, args["glass_distribution"])
    build_camera(desc["camera"], scene)
    build_world(desc, scene_dir, scene)
    configure(scene, args, int(desc.get("max_bounces", 8)))
    scene.render.filepath = args["out"]
    start = time.perf_counter()
    bpy.ops.render.render(write_still=False)
    seconds = time.perf_counter() - start
    bpy.data.images["Render Result"].save_render(args["out"])
    print("cycles_render_seconds %.6f" % seconds)


main()
