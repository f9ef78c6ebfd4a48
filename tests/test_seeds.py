"""spawn_seeds: the SplitMix64 output stream through the extension's seed mixer."""
import pytest

import quarntools as qt

# Published SplitMix64 outputs (the reference generator's first words from these states).
REFERENCE = [
    pytest.param(0, [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4, 0x06C45D188009454F, 0xF88BB8A8724C81EC,
                     0x1B39896A51A8749B], id="state-0"),
    pytest.param(1234567, [6457827717110365317, 3203168211198807973, 9817491932198370423,
                           4593380528125082431, 16408922859458223821], id="state-1234567"),
]


@pytest.mark.parametrize(("seed", "expected"), REFERENCE)
def test_children_are_the_splitmix64_stream(seed, expected):
    assert qt.spawn_seeds(seed, 5) == expected


def test_arithmetic_wraps_modulo_two_to_the_64():
    # From the largest state the first step wraps: derive_seed(2**64 - 1) by hand.
    m = (1 << 64) - 1
    z = (m + 0x9E3779B97F4A7C15) & m
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & m
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & m
    assert qt.spawn_seeds(m, 1) == [z ^ (z >> 31)]


def test_children_match_the_extension_seed_mixer():
    # synth_por_with_facies draws its AR(1) driver from Rng(derive_seed(seed)); a one-zone
    # log series draws the same driver from Rng(seed). With all-sand facies the two agree
    # exactly when the log series gets the first child seed.
    seed = 424242
    n = 200
    por = qt.synth_por_with_facies([1] * n, 0.5, 0.2, 0.05, 0.1, 0.03, 4.0, seed)
    (child,) = qt.spawn_seeds(seed, 1)
    log = qt.synth_log_series([qt.ZoneSpec(n * 0.5, 0.2, 0.05, 4.0)], 0.5, 0, child)
    assert len(log) == n
    assert [v.hex() for v in por] == [v.hex() for v in log]
    assert por != qt.synth_log_series([qt.ZoneSpec(n * 0.5, 0.2, 0.05, 4.0)], 0.5, 0, seed)


def test_prefix_and_distinct_and_type():
    many = qt.spawn_seeds(7, 10_000)
    assert qt.spawn_seeds(7, 10) == many[:10]
    assert len(set(many)) == 10_000
    assert all(type(s) is int and 0 <= s < 2**64 for s in many)
    assert qt.spawn_seeds(7, 0) == []
    # Every child is a seed the extension takes.
    assert len(qt.Sampler.uniform(0, 1).sample_n_seeded(2, max(many))) == 2


BAD = [
    pytest.param(-1, 3, ValueError, "spawn_seeds: seed must be in [0, 2**64) (got -1)", id="seed-negative"),
    pytest.param(2**64, 3, ValueError, f"spawn_seeds: seed must be in [0, 2**64) (got {2**64})", id="seed-2**64"),
    pytest.param(1, -1, ValueError, "spawn_seeds: n must be >= 0 (got -1)", id="n-negative"),
    pytest.param(1.0, 3, TypeError, "spawn_seeds: seed must be an integer in [0, 2**64) (got float)", id="seed-float"),
    pytest.param("1", 3, TypeError, "spawn_seeds: seed must be an integer in [0, 2**64) (got str)", id="seed-str"),
    pytest.param(1, 2.5, TypeError, "spawn_seeds: n must be an integer >= 0 (got float)", id="n-float"),
    pytest.param(True, 3, TypeError, "spawn_seeds: seed and n must be integers, not bool", id="seed-bool"),
]


@pytest.mark.parametrize(("seed", "n", "exc", "message"), BAD)
def test_refuses_bad_arguments(seed, n, exc, message):
    with pytest.raises(exc) as info:
        qt.spawn_seeds(seed, n)
    assert str(info.value) == message


def test_takes_index_objects():
    np = pytest.importorskip("numpy")
    assert qt.spawn_seeds(np.uint64(2**64 - 1), np.int8(2)) == qt.spawn_seeds(2**64 - 1, 2)
