"""One loaded module serves many scenes: its clipboard lives as long as it
stays loaded, as in Layout, and goes with it."""

import shutil

import pytest

import tamberlo
from conftest import EXAMPLE, SAMPLES, run_tool, tool_example

NOTHING_COPIED = "モーションがコピーされていません"


def test_one_copy_pastes_into_several_scenes_as_the_tool_does(module, tmp_path):
    tool_example(tmp_path / "tool.lws")
    walk = tamberlo.read_scene("samples/walk.lws")
    module.copy(walk, EXAMPLE["source"], frames=EXAMPLE["frames"], off=EXAMPLE["off"],
                toggle=EXAMPLE["toggle"])
    for take in range(3):
        shutil.copyfile(SAMPLES / "stage.lws", tmp_path / f"stage{take}.lws")
        stage = tamberlo.read_scene(tmp_path / f"stage{take}.lws")
        module.paste(stage, EXAMPLE["target"], at=EXAMPLE["at"])
        stage.write(tmp_path / f"stage{take}.lws")
        del stage
    for take in range(3):
        assert (tmp_path / f"stage{take}.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()


def test_a_paste_into_the_scene_copied_from_is_the_tools(module, tmp_path):
    run_tool("samples/walk.lws", "--from", "Runner", "--to", "Hurdle", "--frames", "0:20",
             "--at", "40", "-o", tmp_path / "tool.lws")
    walk = tamberlo.read_scene("samples/walk.lws")
    module.copy(walk, "Runner", frames=(0, 20))
    assert module.paste(walk, "Hurdle", at=40).source == walk.path
    walk.write(tmp_path / "python.lws")
    assert (tmp_path / "python.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()


def test_a_later_copy_takes_the_clipboards_place(module):
    walk = tamberlo.read_scene("samples/walk.lws")
    module.copy(walk, ["Runner", "Tracker"])
    module.copy(walk, "Hip", frames=(0, 30))
    with pytest.raises(tamberlo.Refused, match="数が一致しません"):
        module.paste(tamberlo.read_scene("samples/stage.lws"), ["Dancer", "Prop Null"])
    pasted = module.paste(tamberlo.read_scene("samples/stage.lws"), "Camera", at=1)
    assert (pasted.source, pasted.frames) == (walk.path, (0, 30))


def test_the_clipboard_goes_with_the_module():
    walk = tamberlo.read_scene("samples/walk.lws")
    with tamberlo.load_module() as module:
        module.copy(walk, "Runner")
    assert module.closed and repr(module).endswith(" closed>")
    module.close()
    again = tamberlo.load_module(module.path)
    with pytest.raises(tamberlo.Refused, match=NOTHING_COPIED):
        again.paste(walk, "Hurdle")
    again.close()


def test_items_and_channels_keep_their_scene_alive(module):
    channel = tamberlo.read_scene("samples/stage.lws").items["Prop Null"].channels[-1]
    module.copy(tamberlo.read_scene("samples/walk.lws"), "Runner", frames=(0, 10))
    module.paste(channel.item.scene, "Prop Null", at=1)
    assert [c.name for c in channel.item.channels][3:] == ["Rotation.H", "Rotation.P",
                                                          "Rotation.B", "Scale.X", "Scale.Y",
                                                          "Scale.Z"]
    assert channel.name == "Position.Z" and len(channel) == 2
