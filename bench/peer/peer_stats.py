"""Image statistics for comparing two Monte Carlo renderers.

Images are float arrays of shape (height, width, channels) holding linear
radiance. Every test here works on *independent runs*: renders of the same
scene that differ only in their random seed, so that the spread between runs
estimates the noise of each renderer without knowing anything about its
sampler.

- `ztest`: per-pixel, per-channel two-sample test of the run means
  (Welch's t with its own degrees of freedom, reported as the normal
  deviate of the same tail probability, so "within 3 standard errors"
  means the same thing whatever the number of runs).
- `region_means`: mean of each region and its standard error, for places
  where the two renderers differ by design and only averages are comparable.
- `relative_rmse` / `time_to_error`: error against a converged reference and
  the time at which an error-versus-time curve reaches a target.

Run `python3 peer_stats.py` for the self-test (a noise-only pair must pass,
a 2 % brightness change must fail).
"""

import math

import numpy as np
import scipy.stats

# A pixel channel agrees when the run means differ by less than this many
# standard errors of their difference.
DEFAULT_Z_LIMIT = 3.0
# The images agree when at least this share of pixel channels agrees.
DEFAULT_PASS_FRACTION = 0.99
# Luminance weights (Rec. 709) for one-number summaries.
LUMINANCE = np.array([0.2126, 0.7152, 0.0722])


def _stack(runs):
    a = np.asarray(runs, dtype=np.float64)
    if a.ndim == 3:
        a = a[..., None]
    if a.ndim != 4 or a.shape[0] < 2:
        raise ValueError("need at least two runs of shape (height, width, channels)")
    return a


def mean_and_variance(runs):
    """Per-pixel mean over runs, the unbiased variance between runs and the
    number of runs."""
    a = _stack(runs)
    return a.mean(0), a.var(0, ddof=1), a.shape[0]


def ztest(runs_a, runs_b, mask=None, z_limit=DEFAULT_Z_LIMIT, pass_fraction=DEFAULT_PASS_FRACTION):
    """Per-pixel Z-test of two renderers' run means.

    Returns a dict: `passed`, `fraction` (share of tested pixel channels with
    |z| < z_limit), `tested` (their count), `z` (the z image), `worst` (the
    largest |z|), `mean_z`. Channels whose variance is zero in both
    renderers (black background) pass only when the means are equal.
    `mask` (height, width) of bools limits the test to where it is true.
    """
    mean_a, var_a, n_a = mean_and_variance(runs_a)
    mean_b, var_b, n_b = mean_and_variance(runs_b)
    if mean_a.shape != mean_b.shape:
        raise ValueError("image shapes differ: %s vs %s" % (mean_a.shape, mean_b.shape))
    diff = mean_a - mean_b
    qa, qb = var_a / n_a, var_b / n_b
    se2 = qa + qb
    with np.errstate(divide="ignore", invalid="ignore"):
        t = np.where(se2 > 0, diff / np.sqrt(se2), np.where(diff == 0, 0.0, np.inf))
        # Welch-Satterthwaite degrees of freedom.
        dof = np.where(se2 > 0, se2 ** 2 / (qa ** 2 / (n_a - 1) + qb ** 2 / (n_b - 1)), np.inf)
    dof = np.maximum(np.nan_to_num(dof, nan=np.inf), 1.0)
    z = np.sign(t) * scipy.stats.norm.isf(scipy.stats.t.sf(np.abs(t), dof))
    selected = np.ones(z.shape[:2], bool) if mask is None else np.asarray(mask, bool)
    tested = z[selected]
    fraction = float(np.mean(np.abs(tested) < z_limit)) if tested.size else 1.0
    return {
        "passed": fraction >= pass_fraction,
        "fraction": fraction,
        "tested": int(tested.size),
        "z": z,
        "worst": float(np.max(np.abs(tested))) if tested.size else 0.0,
        "mean_z": float(np.mean(tested[np.isfinite(tested)])) if tested.size else 0.0,
    }


def region_means(runs, masks):
    """Luminance mean of each named region per run, averaged over runs, with
    the standard error from the spread between runs: {name: (mean, se)}."""
    a = _stack(runs)
    lum = a[..., :3] @ LUMINANCE if a.shape[-1] >= 3 else a[..., 0]
    out = {}
    for name, mask in masks.items():
        per_run = lum[:, np.asarray(mask, bool)].mean(1)
        out[name] = (float(per_run.mean()), float(per_run.std(ddof=1) / math.sqrt(len(per_run))))
    return out


def compare_region_means(runs_a, runs_b, masks):
    """Per region: both means, their ratio and the z of their difference."""
    ra = region_means(runs_a, masks)
    rb = region_means(runs_b, masks)
    rows = {}
    for name in masks:
        (ma, sa), (mb, sb) = ra[name], rb[name]
        se = math.hypot(sa, sb)
        rows[name] = {"a": ma, "b": mb, "ratio": mb / ma if ma else float("nan"),
                      "z": (mb - ma) / se if se > 0 else 0.0}
    return rows


def relative_rmse(image, reference, reference_noise_var=None):
    """Root-mean-square error over all pixel channels divided by the
    reference's mean. With `reference_noise_var` (per pixel channel, the
    variance of the reference itself) the reference's own noise is taken out
    of the squared error, so a finite reference does not put a floor under
    the curve."""
    image = np.asarray(image, np.float64)
    reference = np.asarray(reference, np.float64)
    mse = float(np.mean((image - reference) ** 2))
    if reference_noise_var is not None:
        mse = max(mse - float(np.mean(reference_noise_var)), 0.0)
    return math.sqrt(mse) / float(np.mean(reference))


def time_to_error(times, errors, target):
    """Time at which an error-versus-time curve reaches `target`.

    Interpolates log(error) against log(time) between the two measurements
    that bracket the target. Past the last measurement it extrapolates with
    the Monte Carlo rate (error proportional to time^-1/2) from the last
    point. Returns (time, extrapolated)."""
    pts = sorted(zip(times, errors))
    for (t0, e0), (t1, e1) in zip(pts, pts[1:]):
        if e0 >= target >= e1 and e0 > 0 and e1 > 0 and e0 != e1:
            s = (math.log(target) - math.log(e0)) / (math.log(e1) - math.log(e0))
            return math.exp(math.log(t0) + s * (math.log(t1) - math.log(t0))), False
    if pts and pts[0][1] <= target:
        return pts[0][0], False
    t_last, e_last = pts[-1]
    return t_last * (e_last / target) ** 2, True


def _self_test():
    rng = np.random.default_rng(7)
    h, w, runs = 64, 64, 8
    truth = 0.2 + rng.random((h, w, 3))
    # Relative noise of one run's pixel mean: small enough that 2 % is many
    # standard errors, as for a converged render.
    sigma = 0.005 * truth

    def render(scale=1.0):
        return [scale * truth + sigma * rng.standard_normal(truth.shape) for _ in range(runs)]

    same = ztest(render(), render())
    assert same["passed"], "noise-only pair failed: %.4f" % same["fraction"]
    brighter = ztest(render(), render(1.02))
    assert not brighter["passed"], "2%% brighter pair passed: %.4f" % brighter["fraction"]
    # A local fault (one bright square, 2 % of the pixels) must fail too.
    patched = render()
    for img in patched:
        img[:10, :10] *= 1.05
    assert not ztest(render(), patched)["passed"]

    masks = {"all": np.ones((h, w), bool)}
    rows = compare_region_means(render(), render(1.02), masks)
    assert abs(rows["all"]["ratio"] - 1.02) < 0.002 and rows["all"]["z"] > 3

    ref = truth
    assert abs(relative_rmse(ref * 1.1, ref) - 0.1 * math.sqrt(np.mean(ref ** 2)) / np.mean(ref)) < 1e-9
    t, extrapolated = time_to_error([1, 4, 16], [0.4, 0.2, 0.1], 0.14142)
    assert not extrapolated and abs(t - 8.0) < 0.01, t
    t, extrapolated = time_to_error([1, 4], [0.4, 0.2], 0.05)
    assert extrapolated and abs(t - 64.0) < 1e-6
    print("peer_stats self-test: 6 passed, 0 failed")


if __name__ == "__main__":
    _self_test()
