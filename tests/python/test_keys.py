"""A channel's keys as NumPy arrays: read bit for bit as the file gave them,
written back unchanged, and set from numbers to make a scene."""

import numpy as np
import pytest

import tamberlo
from conftest import SAMPLES

AWKWARD = [0.1, -0.0, 1e-300, 5e-324, 2.0**53 + 2, -123456.789e10, 1 / 3]


def key_lines(path, count):
    """The numbers of the first `count` Key lines of a file, as Python reads them."""
    lines = [line.split()[1:] for line in open(path) if line.strip().startswith("Key ")]
    return [[float(number) for number in line] for line in lines[:count]]


def test_keys_hold_each_number_of_its_key_line(module):
    keys = tamberlo.read_scene("samples/walk.lws").items["Runner"].channels["Position.X"].keys
    assert keys.dtype == tamberlo.KEY_DTYPE and len(keys) == 5
    for key, (value, time, shape, *parameters) in zip(keys, key_lines(SAMPLES / "walk.lws", 5)):
        assert (key["time"], key["value"], key["shape"]) == (time, value, shape)
        assert [key[field] for field in tamberlo.KEY_DTYPE.names[3:]] == parameters


@pytest.mark.parametrize("sample", ["walk.lws", "stage.lws", "legacy.lws"])
def test_keys_set_back_as_read_are_the_same_bits_and_file(tmp_path, sample):
    scene = tamberlo.read_scene(SAMPLES / sample)
    for item in scene.items:
        for channel in item.channels:
            keys = channel.keys
            channel.keys = keys
            channel.pre, channel.post = channel.pre, channel.post
            assert channel.keys.tobytes() == keys.tobytes(), (item.name, channel.name)
    scene.write(tmp_path / sample)
    assert (tmp_path / sample).read_bytes() == (SAMPLES / sample).read_bytes()


def made_keys(count):
    keys = np.zeros(count, dtype=tamberlo.KEY_DTYPE)
    keys["time"] = np.arange(count) / 30
    keys["value"] = (AWKWARD * count)[:count]
    keys["shape"] = np.arange(count) % 6
    for offset, field in enumerate(tamberlo.KEY_DTYPE.names[3:]):
        keys[field] = np.roll(AWKWARD, offset + 1)[:count]
    return keys


def test_a_scene_made_from_numbers_reads_back_the_same_numbers(tmp_path, stage_copy):
    scene = tamberlo.read_scene(stage_copy)
    channel = scene.items["Dancer"].channels["Rotation.B"]
    channel.keys, channel.pre, channel.post = made_keys(7), 5, 0
    scene.write(stage_copy)
    again = tamberlo.read_scene(stage_copy).items["Dancer"].channels["Rotation.B"]
    assert again.keys.tobytes() == made_keys(7).tobytes() and (again.pre, again.post) == (5, 0)
    tamberlo.read_scene(stage_copy).write(tmp_path / "again.lws")
    assert (tmp_path / "again.lws").read_bytes() == stage_copy.read_bytes()


def test_fields_may_come_in_any_order_and_any_type_that_holds_them(stage_copy):
    keys = made_keys(4)
    names = list(reversed(tamberlo.KEY_DTYPE.names))
    types = ["<f8"] * 6 + ["<i2", "<f8", "<f4"]  # param_2 ... time: shape as int16, time float32
    other = np.zeros(4, dtype=list(zip(names, types)))
    for name in names:
        other[name] = keys[name]
    channel = tamberlo.read_scene(stage_copy).items["Fill"].channels[0]
    channel.keys = other
    assert np.array_equal(channel.keys["time"], keys["time"].astype(np.float32))
    assert channel.keys[["value", "shape", "param_2"]].tolist() == keys[["value", "shape", "param_2"]].tolist()
    channel.keys = np.zeros(0, dtype=tamberlo.KEY_DTYPE)
    assert len(channel) == 0
