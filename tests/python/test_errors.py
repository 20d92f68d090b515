"""Each error reaches Python as the exception a Python user expects, naming
what is wrong, and leaves every file, and a scene's keys, as they were."""

import os
import time

import numpy as np
import pytest

import tamberlo
from conftest import MISUSE_MODULE, folder_state


def bad(keys, mutate):
    keys = keys.copy()
    mutate(keys)
    return keys


def set_field(field, index, value):
    return lambda keys: keys[field].__setitem__(index, value)


BAD_KEYS = [
    (set_field("value", 1, np.nan), ValueError, "key 1: its value is not a finite number"),
    (set_field("time", 0, np.inf), ValueError, "key 0: its time is not a finite number"),
    (set_field("param_2", 4, -np.inf), ValueError, "key 4: its param_2 is not a finite"),
    (set_field("shape", 2, 6), ValueError, "key 2: its shape 6 is not one of 0 to 5"),
    (set_field("shape", 3, -1), ValueError, "key 3: its shape -1 is not one of 0 to 5"),
    (set_field("time", 2, 0.0), ValueError, "key 2: its time 0 is not after the time of key 1"),
    (set_field("time", 1, 0.0), ValueError, "key 1: its time 0 is not after"),
]


@pytest.mark.parametrize("mutate, error, message", BAD_KEYS)
def test_keys_a_file_cannot_hold_change_nothing(stage_copy, mutate, error, message):
    channel = tamberlo.read_scene("samples/walk.lws").items["Runner"].channels["Position.X"]
    before = channel.keys
    with pytest.raises(error, match=message):
        channel.keys = bad(before, mutate)
    assert channel.keys.tobytes() == before.tobytes()


WRONG_ARRAYS = [
    ([1.0, 2.0], TypeError, "structured array"),
    (np.zeros(3), TypeError, "structured array"),
    (np.zeros(3, dtype=[("time", "f8"), ("value", "f8")]), ValueError, "exactly the fields"),
    (np.zeros((2, 2), dtype=tamberlo.KEY_DTYPE), ValueError, "one-dimensional"),
    (np.zeros(2, dtype=[(n, "f8") for n in tamberlo.KEY_DTYPE.names]), ValueError, "shapes are whole"),
    (np.array([(0, 0, 2**32 + 1, 0, 0, 0, 0, 0, 0)], dtype=[(n, "f8" if n != "shape" else "i8")
                                                           for n in tamberlo.KEY_DTYPE.names]),
     ValueError, "key 0: its shape 4294967297 is not one of 0 to 5"),
]


@pytest.mark.parametrize("keys, error, message", WRONG_ARRAYS)
def test_arrays_of_another_form_change_nothing(keys, error, message):
    channel = tamberlo.read_scene("samples/walk.lws").items["Runner"].channels["Position.X"]
    before = channel.keys
    with pytest.raises(error, match=message):
        channel.keys = keys
    assert channel.keys.tobytes() == before.tobytes()
    with pytest.raises(ValueError, match="a behaviour is one of 0 to 5, not 6"):
        channel.post = 6


def walk():
    return tamberlo.read_scene("samples/walk.lws")


COMMANDS = [
    (lambda m: m.copy(walk(), ["Runner", "Nobody"]), KeyError, 'has no item named "Nobody"'),
    (lambda m: m.copy(walk(), "Joint*"), KeyError, 'pattern "Joint\\*" matches no item'),
    (lambda m: m.copy(walk(), ["Runner"], off="Runner:Scale.W"), KeyError, 'no channel "Scale.W"'),
    (lambda m: m.copy(walk(), ["R*", "Runner"]), ValueError, 'selects "Runner" twice'),
    (lambda m: m.copy(walk(), ["Runner"], off="Hip:Position.X"), ValueError, "not one of the copied"),
    (lambda m: m.copy(walk(), ["Runner"], toggle="Runner:Feet"), ValueError, 'no entry "Feet"'),
    (lambda m: m.copy(walk(), ["Runner"], frames=(1.5, 3)), ValueError, "whole frame number"),
    (lambda m: m.copy(walk(), ["Runner"], frames=(1, 2, 3)), ValueError, "a pair"),
    (lambda m: m.copy(walk(), ["Runner"], frames="10-40"), ValueError, "FIRST:LAST"),
    (lambda m: m.copy(walk(), ["Runner"], frames=(0, 2**31)), ValueError, "past the frames"),
    (lambda m: m.paste(walk(), ["Runner"], at="30"), ValueError, "whole frame number"),
    (lambda m: m.copy(walk(), []), tamberlo.Refused, "^アイテムが選ばれていません。$"),
    (lambda m: m.paste(walk(), ["Runner"]), tamberlo.Refused, "^モーションがコピーされていません$"),
    (lambda m: (m.copy(walk(), "Runner"), m.paste(walk(), ["Hip", "Hurdle"])), tamberlo.Refused,
     "数が一致しません"),
]


@pytest.mark.parametrize("command, error, message", COMMANDS)
def test_commands_raise_and_write_nothing(module, tmp_path, command, error, message):
    with pytest.raises(error, match=message) as raised:
        command(module)
    if error is tamberlo.Refused:
        assert raised.value.shown, "a refusal keeps what the user saw"
    assert folder_state(tmp_path) == {}


@pytest.mark.parametrize("misuse", range(10))
def test_a_breach_of_the_host_contract_lists_every_breach(monkeypatch, stage_copy, misuse):
    monkeypatch.setenv("TAMBERLO_MISUSE", str(misuse))
    before = folder_state(stage_copy.parent)
    with tamberlo.load_module(MISUSE_MODULE) as misbehaving:
        scene = tamberlo.read_scene(stage_copy)
        with pytest.raises(tamberlo.ContractBreach, match="broke the host contract") as raised:
            misbehaving.copy(scene, ["Dancer"])
    assert raised.value.breaches and all(b.strip() for b in raised.value.breaches)
    assert str(raised.value).count("\n") == len(raised.value.breaches)
    assert folder_state(stage_copy.parent) == before
    assert len(scene.items["Dancer"].channels) == 9  # the scene is still there to read


def test_reading_names_the_file_and_what_is_wrong(tmp_path):
    (tmp_path / "old.lws").write_text("LWSC\n2\n")
    with pytest.raises(FileNotFoundError, match="cannot open missing.lws"):
        tamberlo.read_scene("missing.lws")
    with pytest.raises(IsADirectoryError):
        tamberlo.read_scene(tmp_path)
    with pytest.raises(tamberlo.SceneFileError, match=r"old.lws:2: ") as raised:
        tamberlo.read_scene(tmp_path / "old.lws")
    assert isinstance(raised.value, ValueError)
    (tmp_path / "bad.map").write_text("Runner\n")
    with pytest.raises(ValueError, match=r"bad.map:1: a line holds two names"):
        tamberlo.read_map(tmp_path / "bad.map")
    with pytest.raises(OSError, match="cannot open the map"):
        tamberlo.read_map(tmp_path / "missing.map")
    with pytest.raises(tamberlo.LoadError, match="cannot load module"):
        tamberlo.load_module(tmp_path / "old.lws")


def test_a_failed_write_leaves_every_file_as_it_was(module, tmp_path, stage_copy):
    scene = tamberlo.read_scene(stage_copy)
    module.copy(walk(), ["Runner"])
    module.paste(scene, ["Dancer"], at=5)
    before = folder_state(tmp_path)
    with pytest.raises(OSError, match="missing"):
        scene.write(tmp_path / "missing" / "stage.lws")
    # The file read changes on disk: the scene cannot take its unchanged parts from it.
    stage_copy.write_bytes(stage_copy.read_bytes() + b"\n")
    os.utime(stage_copy, ns=(time.time_ns(), time.time_ns() + 10**9))
    changed = folder_state(tmp_path)
    with pytest.raises(tamberlo.SceneFileError, match="has changed since it was read"):
        scene.write(stage_copy)
    assert folder_state(tmp_path) == changed != before
    module.close()
    with pytest.raises(ValueError, match="is closed"):
        module.paste(scene, ["Dancer"])
