#!/usr/bin/python3
"""Vitrel against Blender's Cycles (CPU): image agreement and speed.

    /usr/bin/python3 bench/peer/run_peer.py agree [--scenes cornell,...] [--size 64]
        [--spp 512] [--runs 16] [--vitrel build/release/cli/vitrel]
    /usr/bin/python3 bench/peer/run_peer.py race [--size 512] [--spp-list 4,16,64,256]
        [--ref-runs 4] [--ref-spp 256] [--rounds 2] [--vitrel ...]
    /usr/bin/python3 bench/peer/run_peer.py roughglass [--cases uniform:0.3,...] [--size 128]
        [--spp 128] [--runs 2] [--vitrel ...]

`agree` renders every scene `runs` times with each renderer (different
seeds), then runs the per-pixel Z-test of peer_stats on the run means where
both renderers implement the same material model, and compares region means
where they differ by design. `race` renders the Cornell box at increasing
sample counts with each renderer, measures the error against a converged
reference (both renderers' own and Cycles'), and reports samples per second
and the time each needs to reach 10 %, 3 % and 1 % relative RMSE, with an
error-versus-time plot; every curve point is timed `rounds` times per
renderer, the renderers interleaved, and the median counts. `roughglass`
compares one rough glass sphere's region mean across Vitrel and Cycles' two
GGX glass models under simple environments (the white furnace among them). Results go to build/peer/ (images, JSON, plot); the
tables printed at the end are what BENCHMARKS.md records.

Both renderers get the same cores: Cycles with `threads` = the core count,
Vitrel through lavapipe, which uses every core. Timings are the renderers'
own render time (Cycles: the render call inside Blender, scene sync and BVH
included; Vitrel: the batches, as the CLI records in the EXR metadata),
plus the whole process's wall time as the end-to-end figure. Vitrel's runs
also record the GPU time of each of its passes (`vitrel render --timings`).
"""

import argparse
import json
import math
import os
import re
import statistics
import subprocess
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import peer_io  # noqa: E402
import peer_scenes  # noqa: E402
import peer_stats  # noqa: E402

REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
ERROR_TARGETS = (0.10, 0.03, 0.01)
# Seeds of the agreement runs and of the race's curve images are disjoint
# from the reference runs' seeds, so that no image is compared with itself.
REFERENCE_SEED_BASE = 1000
CURVE_SEED_BASE = 2000

# Material types whose models are the same in both renderers (Lambert, GGX
# metal, smooth and rough dielectric). Every scene listed in MODEL_NOTES is
# compared by region means only; the materials listed in
# MATERIAL_DIFFERENCES leave their scene's per-pixel test (with their
# outline) and are compared by their region means.
MATERIAL_DIFFERENCES = {
    "spheres_env": {
        "rough_glass": "Rough glass models differ: Cycles' Multiscatter GGX glass is a random walk on the "
                       "microsurface that is not lossless (a lone sphere in a white furnace keeps 98.6 % of "
                       "the light at roughness 0.3, Vitrel's 100.0 %; `run_peer.py roughglass`) and sends "
                       "the multiply scattered light in other directions than Vitrel's Kulla-Conty lobe; "
                       "compared by its region mean.",
    },
}
MODEL_NOTES = {
    "caustic": "The caustic under the glass sphere is found only by BSDF sampling from the floor "
               "towards a tiny light (Cycles has no light tracing, and Vitrel's light-path pass is "
               "still empty), so those pixels are heavy-tailed and far from normal at these sample "
               "counts; compared by region means.",
}


def log(msg):
    print(msg, flush=True)


# ---- Renderers ----------------------------------------------------------------

def run_cycles(scene_json, out, size, spp, seed, threads, index_pass=False, glass_distribution="MULTI_GGX"):
    cmd = ["nice", "-n", os.environ.get("PEER_NICE", "19"), "blender", "-b", "--factory-startup",
           "--python", os.path.join(HERE, "blender_cycles.py"), "--",
           "--scene", scene_json, "--out", out, "--size", str(size), "--samples", str(spp),
           "--seed", str(seed), "--threads", str(threads), "--glass-distribution", glass_distribution]
    if index_pass:
        cmd.append("--index-pass")
    start = time.perf_counter()
    res = subprocess.run(cmd, capture_output=True, text=True)
    wall = time.perf_counter() - start
    m = re.search(r"cycles_render_seconds ([0-9.]+)", res.stdout)
    if res.returncode != 0 or not m or not os.path.exists(out):
        raise RuntimeError("Cycles failed on %s:\n%s\n%s" % (scene_json, res.stdout[-2000:], res.stderr[-2000:]))
    return {"render_s": float(m.group(1)), "wall_s": wall}


class Vitrel:
    """The `vitrel` command-line renderer: JSON scenes directly, the textured
    scene through its glTF file, the environment through --env. Independent
    runs are renders with different --seed values; every run also measures
    the GPU time of each pass (--timings)."""

    def __init__(self, exe):
        self.exe = exe

    def args_for(self, desc, scene_json):
        scene_dir = os.path.dirname(scene_json)
        args = [os.path.join(scene_dir, desc["gltf"]) if "gltf" in desc else scene_json]
        if "gltf" in desc:
            args += ["--camera-index", "0"]
        if "environment" in desc:
            env = desc["environment"]
            args += ["--env", os.path.join(scene_dir, env["file"]),
                     "--env-intensity", str(env.get("strength", 1.0))]
        return args

    def run(self, desc, scene_json, out, size, spp, seed):
        """Renders `out` (size x size, linear EXR) with sampler seed `seed`."""
        cmd = ["nice", "-n", os.environ.get("PEER_NICE", "19"), self.exe, "render"]
        cmd += self.args_for(desc, scene_json)
        cmd += ["-o", out, "--spp", str(spp), "--size", "%dx%d" % (size, size), "--quality", "1",
                "--bounces", str(desc.get("max_bounces", peer_scenes.MAX_BOUNCES)), "--seed", str(seed),
                "--timings", "--quiet"]
        start = time.perf_counter()
        res = subprocess.run(cmd, capture_output=True, text=True)
        wall = time.perf_counter() - start
        if res.returncode != 0 or not os.path.exists(out):
            raise RuntimeError("vitrel failed: %s\n%s\n%s" % (" ".join(cmd), res.stdout[-2000:], res.stderr[-2000:]))
        render_s = exr_time_seconds(out)
        return {"render_s": render_s if render_s is not None else wall, "wall_s": wall,
                "pass_ms": parse_pass_timings(res.stderr), "stderr": res.stderr[-4000:]}


# One row of the `--timings` table: name, total ms, ms per batch[, share].
TIMING_ROW = re.compile(r"^  (\S.*?)\s+([0-9.]+)\s+([0-9.]+)(?:\s+[0-9.]+%)?$")


def parse_pass_timings(stderr):
    """The first GPU's table of `vitrel render --timings` as {pass: total ms}
    (with "GPU total" and "host batches"); {} when the GPU could not measure."""
    table = {}
    for line in stderr.splitlines():
        if line.startswith("GPU timings") and table:
            break
        m = TIMING_ROW.match(line)
        if m and m.group(1) != "pass":
            table[m.group(1)] = float(m.group(2))
    return table


def exr_time_seconds(path):
    import OpenImageIO as oiio
    inp = oiio.ImageInput.open(path)
    if inp is None:
        return None
    value = inp.spec().getattribute("vitrel:time_seconds")
    inp.close()
    try:
        return float(value)
    except (TypeError, ValueError):
        return None


# ---- Agreement ------------------------------------------------------------------

def scene_desc(path):
    with open(path) as f:
        return json.load(f)


def render_runs(renderer, name, desc, scene_json, out_dir, size, spp, seeds, vitrel, threads):
    images, timings = [], []
    for seed in seeds:
        out = os.path.join(out_dir, "%s_%s_%dpx_%dspp_s%d.exr" % (name, renderer, size, spp, seed))
        if not os.path.exists(out):
            if renderer == "cycles":
                t = run_cycles(scene_json, out, size, spp, seed, threads)
            else:
                t = vitrel.run(desc, scene_json, out, size, spp, seed)
            timings.append(t)
            log("  %s %s seed %d: %.2f s" % (renderer, name, seed, t["render_s"]))
        images.append(peer_io.read_rgb(out))
    return images, timings


def object_index_image(name, scene_json, out_dir, size, threads):
    """Per pixel the object index of the first hit (Cycles' index pass): the
    materials' positions in the scene's table, counted from 1; 0 for none."""
    out = os.path.join(out_dir, "%s_index_%dpx.exr" % (name, size))
    if not os.path.exists(out):
        run_cycles(scene_json, out, size, 1, 0, threads, index_pass=True)
    return np.rint(peer_io.read_rgb(out)[..., 0]).astype(int)


def shift_all(mask, op):
    """`mask` combined by `op` (and: shrink, or: grow) with its four
    neighbours: one pixel less or more all round."""
    out = mask.copy()
    out[1:, :] = op(out[1:, :], mask[:-1, :])
    out[:-1, :] = op(out[:-1, :], mask[1:, :])
    out[:, 1:] = op(out[:, 1:], mask[:, :-1])
    out[:, :-1] = op(out[:, :-1], mask[:, 1:])
    return out


def region_masks(name, desc, scene_json, out_dir, size, threads):
    """Per material: the pixels whose first hit is that material, shrunk by
    one pixel so that filtered edges, where neighbouring materials mix, stay
    out."""
    index = object_index_image(name, scene_json, out_dir, size, threads)
    masks = {}
    for i, mat in enumerate(desc["materials"], start=1):
        inner = shift_all(index == i, np.logical_and)
        if inner.sum() >= 16:
            masks[mat] = inner
    return masks


def footprint(name, desc, scene_json, out_dir, size, threads, materials):
    """The pixels that see any of `materials` first, grown by one pixel: the
    whole footprint of those surfaces in a filtered image (the filter spans
    1.5 px)."""
    index = object_index_image(name, scene_json, out_dir, size, threads)
    names = list(desc["materials"])
    seen = np.isin(index, [names.index(m) + 1 for m in materials])
    return shift_all(seen, np.logical_or)


def agree(args):
    scenes = peer_scenes.write_scenes(os.path.join(args.out, "scenes"), REPO)
    runs_dir = os.path.join(args.out, "agree")
    os.makedirs(runs_dir, exist_ok=True)
    vitrel = Vitrel(args.vitrel) if args.vitrel else None
    results = {}
    for name in args.scenes.split(","):
        path = scenes[name]
        desc = scene_desc(path)
        seeds = list(range(1, args.runs + 1))
        log("%s: Cycles, %d runs of %d spp at %d px" % (name, args.runs, args.spp, args.size))
        cyc, _ = render_runs("cycles", name, desc, path, runs_dir, args.size, args.spp, seeds, None, args.threads)
        masks = region_masks(name, desc, path, runs_dir, args.size, args.threads)
        peer_io.write_preview(os.path.join(runs_dir, "%s_cycles_mean.png" % name), np.mean(cyc, 0))
        entry = {"size": args.size, "spp": args.spp, "vitrel_spp": args.vitrel_spp or args.spp, "runs": args.runs,
                 "cycles_self": self_consistency(cyc)}
        if vitrel:
            log("%s: Vitrel, %d runs of %d spp" % (name, args.runs, args.vitrel_spp or args.spp))
            vit, _ = render_runs("vitrel", name, desc, path, runs_dir, args.size, args.vitrel_spp or args.spp, seeds,
                                 vitrel, args.threads)
            peer_io.write_preview(os.path.join(runs_dir, "%s_vitrel_mean.png" % name), np.mean(vit, 0))
            if name in MODEL_NOTES:
                entry["note"] = MODEL_NOTES[name]
            else:
                tested = None
                if name in MATERIAL_DIFFERENCES:
                    # Surfaces whose models differ by design leave the
                    # per-pixel test; their region means remain below.
                    differ = MATERIAL_DIFFERENCES[name]
                    tested = ~footprint(name, desc, path, runs_dir, args.size, args.threads, list(differ))
                    entry["ztest_leaves_out"] = {"materials": differ, "pixels": int((~tested).sum())}
                    # The same test over every pixel, for the record.
                    z_all = peer_stats.ztest(cyc, vit)
                    entry["ztest_all_pixels"] = {k: z_all[k] for k in ("passed", "fraction", "tested", "worst")}
                z = peer_stats.ztest(cyc, vit, mask=tested)
                entry["ztest"] = {k: z[k] for k in ("passed", "fraction", "tested", "worst", "mean_z")}
                peer_io.write_preview(os.path.join(runs_dir, "%s_absz.png" % name),
                                      np.abs(z["z"]) / peer_stats.DEFAULT_Z_LIMIT)
                # The negative control on real images: Vitrel 2 % brighter must fail.
                brighter = peer_stats.ztest(cyc, [1.02 * v for v in vit], mask=tested)
                entry["ztest_2pct_brighter"] = {"passed": brighter["passed"], "fraction": brighter["fraction"]}
            entry["regions"] = peer_stats.compare_region_means(cyc, vit, masks)
        results[name] = entry
        log(json.dumps({name: entry}, indent=1, default=float))
    # Scenes run separately accumulate in one file.
    path = os.path.join(args.out, "agree.json")
    if os.path.exists(path):
        with open(path) as f:
            results = {**json.load(f), **results}
    with open(path, "w") as f:
        json.dump(results, f, indent=1, default=float)


def self_consistency(runs):
    """Z-test of one renderer's first half of runs against its second half:
    how the test behaves when nothing differs but the seed."""
    half = len(runs) // 2
    if half < 2:
        return None
    z = peer_stats.ztest(runs[:half], runs[half:])
    brighter = peer_stats.ztest(runs[:half], [1.02 * r for r in runs[half:]])
    return {"passed": z["passed"], "fraction": z["fraction"],
            "2pct_brighter_passed": brighter["passed"], "2pct_brighter_fraction": brighter["fraction"]}


def check_environment(args):
    """Cycles must look the environment up the way Vitrel does: a map whose
    texels hold their own column and row, seen through a very narrow camera
    in known directions, must show the texel Vitrel's mapping names."""
    d = os.path.join(args.out, "envcheck")
    os.makedirs(d, exist_ok=True)
    w, h = 64, 32
    peer_scenes.write_exr_half(os.path.join(d, "probe.exr"), w, h, lambda x, y: ((x + 1) / 64.0, (y + 1) / 64.0, 0.5))
    failures = 0
    for theta_deg, phi_deg in ((62, 50), (120, 200), (80, 300)):
        t, p = math.radians(theta_deg), math.radians(phi_deg)
        direction = [math.sin(t) * math.cos(p), math.cos(t), math.sin(t) * math.sin(p)]
        desc = {"materials": {"m": {"type": "lambertian", "albedo": [0.5, 0.5, 0.5]}},
                # One triangle far below: Cycles wants some geometry.
                "vertices": [[0, -100, 0], [1, -100, 0], [0, -100, 1]], "triangles": [[0, 1, 2]],
                "triangle_material": ["m"], "max_bounces": 1,
                "camera": {"position": [0, 0, 0], "look_at": direction, "up": [0, 1, 0], "vfov_deg": 0.5},
                "environment": {"file": "probe.exr"}}
        scene_json = os.path.join(d, "probe_%d_%d.json" % (theta_deg, phi_deg))
        with open(scene_json, "w") as f:
            json.dump(desc, f)
        out = scene_json[:-5] + ".exr"
        run_cycles(scene_json, out, 4, 4, 1, args.threads)
        px = peer_io.read_rgb(out)[2, 2]
        got = (int(round(px[0] * 64 - 1)), int(round(px[1] * 64 - 1)))
        want = (int(p / (2 * math.pi) * w), int(t / math.pi * h))
        failures += got != want
        log("direction theta %d phi %d: texel %s, Vitrel's mapping %s" % (theta_deg, phi_deg, got, want))
    log("environment orientation: %d passed, %d failed" % (3 - failures, failures))
    return failures == 0


# ---- Rough glass ------------------------------------------------------------------

# One rough glass sphere (IOR 1.5) with nothing else, seen by both renderers
# under three environments: "uniform" (radiance 1 everywhere, the white
# furnace: a lossless sphere vanishes, every pixel 1), "split" (1 above the
# horizon, 0 below: the mean shows where the sphere sends light from above)
# and "sky" (the spheres_env sky and sun without the floor).
ROUGH_GLASS_ENVIRONMENTS = {
    "uniform": lambda x, y, w, h: (1.0, 1.0, 1.0),
    "split": lambda x, y, w, h: (1.0, 1.0, 1.0) if y < h // 2 else (0.0, 0.0, 0.0),
    "sky": peer_scenes.sky_radiance,
}
ROUGH_GLASS_BOUNCES = 64  # deep enough that the furnace loses nothing measurable
# The renderers compared: Vitrel, Cycles' Glass BSDF with Multiscatter GGX
# (energy-conserving random walk on the microsurface) and with GGX (single
# scattering only).
ROUGH_GLASS_RENDERERS = ("vitrel", "cycles_multi_ggx", "cycles_ggx")


def rough_glass_scene(out_dir, env_name, roughness):
    w, h = 64, 32
    env_file = "rough_glass_%s.exr" % env_name
    env_path = os.path.join(out_dir, env_file)
    if not os.path.exists(env_path):
        radiance = ROUGH_GLASS_ENVIRONMENTS[env_name]
        peer_scenes.write_exr_half(env_path, w, h, lambda x, y: radiance(x, y, w, h))
    m = peer_scenes.Mesh()
    m.add_sphere((0.0, 0.0, 0.0), 1.0, "rough_glass", "rough_glass")
    desc = m.scene("rough_glass", {"rough_glass": {"type": "dielectric", "ior": 1.5, "roughness": roughness}},
                   peer_scenes.camera([0.0, 0.0, -4.5], [0.0, 0.0, 0.0], 30.0),
                   environment={"file": env_file, "strength": 1.0}, background_radiance=[0.0, 0.0, 0.0])
    desc["max_bounces"] = ROUGH_GLASS_BOUNCES
    path = os.path.join(out_dir, "rough_glass_%s_r%g.json" % (env_name, roughness))
    with open(path, "w") as f:
        json.dump(desc, f)
    return desc, path


def rough_glass(args):
    """Region mean of the sphere per renderer, environment and roughness;
    the uniform environment also gives the furnace's worst pixel."""
    d = os.path.join(args.out, "rough_glass")
    os.makedirs(d, exist_ok=True)
    vitrel = Vitrel(args.vitrel) if args.vitrel else None
    renderers = [r for r in ROUGH_GLASS_RENDERERS if vitrel or r != "vitrel"]
    rows = []
    for case in args.cases.split(","):
        env_name, roughness = case.split(":")[0], float(case.split(":")[1])
        desc, path = rough_glass_scene(d, env_name, roughness)
        mask = region_masks("rough_glass", desc, path, d, args.size, args.threads)["rough_glass"]
        row = {"environment": env_name, "roughness": roughness}
        for r in renderers:
            images = []
            for seed in range(1, args.runs + 1):
                out = os.path.join(d, "%s_r%g_%s_%dpx_%dspp_s%d.exr" % (env_name, roughness, r, args.size,
                                                                      args.spp, seed))
                if not os.path.exists(out):
                    if r == "vitrel":
                        vitrel.run(desc, path, out, args.size, args.spp, seed)
                    else:
                        run_cycles(path, out, args.size, args.spp, seed, args.threads,
                                   glass_distribution=r[len("cycles_"):].upper())
                images.append(peer_io.read_rgb(out))
            mean, se = peer_stats.region_means(images, {"sphere": mask})["sphere"]
            row[r] = {"mean": mean, "se": se}
            if env_name == "uniform":
                # The furnace: every pixel of the sphere should be 1.
                lum = np.mean(images, 0)[..., :3] @ peer_stats.LUMINANCE
                row[r]["pixel_range"] = [float(lum[mask].min()), float(lum[mask].max())]
        for r in renderers[1:] if vitrel else []:
            a, b = row[r], row["vitrel"]
            row["vitrel_over_" + r] = {"ratio": b["mean"] / a["mean"],
                                       "z": (b["mean"] - a["mean"]) / max(math.hypot(a["se"], b["se"]), 1e-12)}
        rows.append(row)
        log(json.dumps(row, default=float))
    summary = {"size": args.size, "spp": args.spp, "runs": args.runs, "bounces": ROUGH_GLASS_BOUNCES,
               "loadavg_end": os.getloadavg(), "rows": rows}
    with open(os.path.join(args.out, "rough_glass.json"), "w") as f:
        json.dump(summary, f, indent=1, default=float)
    log("| environment | roughness | " + " | ".join(renderers) + " | Vitrel / Cycles MS GGX |")
    for row in rows:
        cells = ["%.4f ± %.4f" % (row[r]["mean"], row[r]["se"]) for r in renderers]
        ratio = row.get("vitrel_over_cycles_multi_ggx")
        log("| %s | %g | %s | %s |" % (row["environment"], row["roughness"], " | ".join(cells),
                                       "%.4f (z %.1f)" % (ratio["ratio"], ratio["z"]) if ratio else "-"))


# ---- Race -----------------------------------------------------------------------

def race(args):
    scenes = peer_scenes.write_scenes(os.path.join(args.out, "scenes"), REPO)
    name = args.scene
    path = scenes[name]
    desc = scene_desc(path)
    race_dir = os.path.join(args.out, "race")
    os.makedirs(race_dir, exist_ok=True)
    vitrel = Vitrel(args.vitrel) if args.vitrel else None
    spp_list = [int(s) for s in args.spp_list.split(",")]
    load_before = os.getloadavg()
    renderers = ["cycles"] + (["vitrel"] if vitrel else [])

    refs = {}
    for r in renderers:
        seeds = [REFERENCE_SEED_BASE + k for k in range(args.ref_runs)]
        log("%s reference: %d runs of %d spp" % (r, args.ref_runs, args.ref_spp))
        imgs, _ = render_runs(r, name, desc, path, race_dir, args.size, args.ref_spp, seeds, vitrel, args.threads)
        mean, var, n = peer_stats.mean_and_variance(imgs)
        refs[r] = (mean, var / n)

    # Curve points are rendered renderer by renderer at each sample count,
    # the order flipping every round, so that both renderers see the same
    # machine: the speed of a shared machine drifts by more than the
    # difference being measured. Each point's times are the median over the
    # rounds; its error comes from its image, the same in every round
    # (fixed seeds).
    curves = {r: [] for r in renderers}
    for i, spp in enumerate(spp_list):
        seed = CURVE_SEED_BASE + i
        times = {r: [] for r in renderers}
        outs = {}
        for k in range(args.rounds):
            for r in (renderers if k % 2 == 0 else renderers[::-1]):
                out = os.path.join(race_dir, "%s_%s_curve_%dspp.exr" % (name, r, spp))
                outs[r] = out
                times[r].append(run_cycles(path, out, args.size, spp, seed, args.threads) if r == "cycles" else
                                vitrel.run(desc, path, out, args.size, spp, seed))
        for r in renderers:
            img = peer_io.read_rgb(outs[r])
            render_s = statistics.median(t["render_s"] for t in times[r])
            wall_s = statistics.median(t["wall_s"] for t in times[r])
            point = {"spp": spp, "render_s": render_s, "wall_s": wall_s,
                     "render_s_rounds": [t["render_s"] for t in times[r]],
                     "samples_per_s": args.size * args.size * spp / render_s}
            if "pass_ms" in times[r][0]:
                point["pass_ms"] = times[r][0]["pass_ms"]
            for ref_name, (ref, ref_var) in refs.items():
                point["rmse_vs_" + ref_name] = peer_stats.relative_rmse(img, ref, ref_var)
            curves[r].append(point)
            log("  %s %4d spp: %.2f s render (rounds %s), %.2f s wall, rmse %s" % (
                r, spp, render_s, ", ".join("%.2f" % t["render_s"] for t in times[r]), wall_s,
                ", ".join("%s %.4f" % (k[8:], v) for k, v in point.items() if k.startswith("rmse_vs_"))))

    summary = {"scene": name, "size": args.size, "threads": args.threads, "rounds": args.rounds,
               "loadavg_before": load_before, "loadavg_after": os.getloadavg(), "curves": curves,
               "ref_runs": args.ref_runs, "ref_spp": args.ref_spp, "time_to_error": {}}
    for r in renderers:
        own = "rmse_vs_" + r
        pts = curves[r]
        tte = {}
        for target in ERROR_TARGETS:
            for clock in ("render_s", "wall_s"):
                t, extrapolated = peer_stats.time_to_error([p[clock] for p in pts], [p[own] for p in pts], target)
                tte["%g%%_%s" % (100 * target, clock)] = {"seconds": t, "extrapolated": extrapolated}
        summary["time_to_error"][r] = tte
        best = max(pts, key=lambda p: p["spp"])
        summary.setdefault("samples_per_s", {})[r] = best["samples_per_s"]
        if best.get("pass_ms"):
            summary.setdefault("pass_ms_at_most_spp", {})[r] = {"spp": best["spp"], **best["pass_ms"]}
    if "vitrel" in renderers:
        summary["ratios_vitrel_over_cycles"] = {
            "samples_per_s": summary["samples_per_s"]["vitrel"] / summary["samples_per_s"]["cycles"],
            **{k: summary["time_to_error"]["vitrel"][k]["seconds"] / summary["time_to_error"]["cycles"][k]["seconds"]
               for k in summary["time_to_error"]["cycles"]}}
    with open(os.path.join(args.out, "race.json"), "w") as f:
        json.dump(summary, f, indent=1, default=float)
    plot(summary, os.path.join(args.out, "race_error_vs_time.png"))
    log(json.dumps({k: v for k, v in summary.items() if k != "curves"}, indent=1, default=float))


def plot(summary, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6.4, 4.4), dpi=110)
    colours = {"cycles": "tab:orange", "vitrel": "tab:blue"}
    for r, pts in summary["curves"].items():
        t = [p["render_s"] for p in pts]
        e = [p["rmse_vs_" + r] for p in pts]
        ax.loglog(t, e, "o-", color=colours[r], label="%s (render time)" % r.capitalize())
        tw = [p["wall_s"] for p in pts]
        ax.loglog(tw, e, "x:", color=colours[r], alpha=0.6, label="%s (process wall time)" % r.capitalize())
    for target in ERROR_TARGETS:
        ax.axhline(target, color="grey", lw=0.6, ls="--")
    ax.set_xlabel("seconds")
    ax.set_ylabel("relative RMSE vs own converged reference")
    la, lb = summary["loadavg_before"][0], summary["loadavg_after"][0]
    ax.set_title("%s %d px, %d threads, load %.1f -> %.1f" % (summary["scene"], summary["size"],
                                                               summary["threads"], la, lb), fontsize=9)
    ax.grid(True, which="both", lw=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("command", choices=["scenes", "envcheck", "agree", "race", "roughglass"])
    p.add_argument("--out", default=os.path.join(REPO, "build", "peer"))
    p.add_argument("--vitrel", default=None, help="path of the vitrel program (omit: Cycles only)")
    p.add_argument("--threads", type=int, default=os.cpu_count())
    p.add_argument("--scenes", default=",".join(peer_scenes.SCENE_NAMES))
    p.add_argument("--scene", default="cornell")
    p.add_argument("--size", type=int, default=None)
    p.add_argument("--spp", type=int, default=512)
    p.add_argument("--runs", type=int, default=16)
    p.add_argument("--vitrel-spp", type=int, default=None,
                   help="Vitrel's samples per run in `agree` when they differ from Cycles' (the test allows it)")
    p.add_argument("--spp-list", default="4,16,64,256")
    p.add_argument("--ref-runs", type=int, default=4)
    p.add_argument("--ref-spp", type=int, default=256)
    p.add_argument("--rounds", type=int, default=2,
                   help="race: renders of every curve point per renderer, interleaved; times are their median")
    p.add_argument("--cases", default="uniform:0,uniform:0.1,uniform:0.3,uniform:0.6,split:0.3,sky:0.3",
                   help="roughglass: environment:roughness pairs (environments: uniform, split, sky)")
    args = p.parse_args()
    if args.command == "scenes":
        for n, path in peer_scenes.write_scenes(os.path.join(args.out, "scenes"), REPO).items():
            print(n, path)
    elif args.command == "envcheck":
        sys.exit(0 if check_environment(args) else 1)
    elif args.command == "agree":
        args.size = args.size or 64
        agree(args)
    elif args.command == "roughglass":
        args.size = args.size or 128
        rough_glass(args)
    else:
        args.size = args.size or 512
        race(args)


if __name__ == "__main__":
    main()
