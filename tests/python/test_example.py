"""The README's paste made from Python gives the very bytes tamberlo-scene
gives for the same choices, however the items are chosen."""

import pytest

import tamberlo
from conftest import EXAMPLE, run_tool, tool_example


def paste_example(module, source_items, target_items):
    walk = tamberlo.read_scene("samples/walk.lws")
    stage = tamberlo.read_scene("samples/stage.lws")
    copied = module.copy(walk, source_items, frames=EXAMPLE["frames"], off=EXAMPLE["off"],
                         toggle=EXAMPLE["toggle"])
    return stage, copied, module.paste(stage, target_items, at=EXAMPLE["at"])


def test_the_scene_and_the_picture_are_the_tools_bytes(module, tmp_path):
    tool_example(tmp_path / "tool.lws", tmp_path / "tool.svg")
    stage, _, pasted = paste_example(module, EXAMPLE["source"], EXAMPLE["target"])
    stage.write(tmp_path / "python.lws")
    assert pasted.draw(tmp_path / "python.svg") == []
    assert (tmp_path / "python.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()
    assert (tmp_path / "python.svg").read_bytes() == (tmp_path / "tool.svg").read_bytes()


def test_what_the_results_print_is_what_the_tool_prints(module, tmp_path):
    printed = tool_example(tmp_path / "tool.lws")
    _, copied, pasted = paste_example(module, EXAMPLE["source"], EXAMPLE["target"])
    assert str(copied) in printed and str(pasted) in printed
    assert copied.frames == (10, 40) and copied.items == ["Runner", "Tracker"]
    assert (pasted.at, pasted.window, pasted.source) == (30, (30, 60), "samples/walk.lws")
    assert [(c.item, c.channel, c.keys_before, c.keys_after) for c in pasted.changes][:2] == [
        ("Dancer", "Position.X", 4, 6), ("Dancer", "Position.Y", 4, 5)]
    assert copied.shown[0] == "panel Ruxo_Tamberlo (COPY) v0.1i" and pasted.shown[-1] == "confirm"


@pytest.mark.parametrize("source_items, target_items", [
    (["Runner", "Tracker"], ["Dancer", "Prop Null"]),
    (["R*", "Tr?cker"], ["D*", "Prop Null"]),
    ("[R]unner", "Dancer"),
], ids=["names", "patterns", "one-string"])
def test_patterns_select_as_the_tools_do(module, tmp_path, source_items, target_items):
    from_ = ",".join([source_items] if isinstance(source_items, str) else source_items)
    to = ",".join([target_items] if isinstance(target_items, str) else target_items)
    run_tool("samples/walk.lws", "--from", from_, "--into", "samples/stage.lws", "--to", to,
             "--frames", "10:40", "--at", "30", "-o", tmp_path / "tool.lws")
    walk, stage = tamberlo.read_scene("samples/walk.lws"), tamberlo.read_scene("samples/stage.lws")
    module.copy(walk, source_items, frames="10:40")
    module.paste(stage, target_items, at=30)
    stage.write(tmp_path / "python.lws")
    assert (tmp_path / "python.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()


def test_a_map_selects_as_the_tools_map(module, tmp_path):
    run_tool("samples/walk.lws", "--map", "samples/walk-onto-stage.map", "--into",
             "samples/stage.lws", "--frames", "10:40", "--at", "30", "-o", tmp_path / "tool.lws")
    pairs = tamberlo.read_map("samples/walk-onto-stage.map")
    assert pairs.pairs == [("Runner", "Dancer"), ("Tracker", "Prop Null")]
    walk, stage = tamberlo.read_scene("samples/walk.lws"), tamberlo.read_scene("samples/stage.lws")
    assert module.copy(walk, pairs, frames=(10, 40)).items == ["Runner", "Tracker"]
    assert module.paste(stage, pairs, at=30).items == ["Dancer", "Prop Null"]
    stage.write(tmp_path / "python.lws")
    assert (tmp_path / "python.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()


@pytest.mark.parametrize("acts", [
    [("toggle", "Runner:Rotation"), ("on", "Runner:Rotation.P")],
    [("on", "Runner:Rotation.P"), ("toggle", "Runner:Rotation")],
], ids=["toggle-then-on", "on-then-toggle"])
def test_acts_go_in_the_order_written_as_the_tools_options(module, tmp_path, acts):
    options = [word for kind, act in acts for word in (f"--{kind}", act)]
    run_tool("samples/walk.lws", "--from", "Runner", "--into", "samples/stage.lws", "--to",
             "Dancer", *options, "-o", tmp_path / "tool.lws")
    stage = tamberlo.read_scene("samples/stage.lws")
    module.copy(tamberlo.read_scene("samples/walk.lws"), "Runner", **dict(acts))
    module.paste(stage, "Dancer")
    stage.write(tmp_path / "python.lws")
    assert (tmp_path / "python.lws").read_bytes() == (tmp_path / "tool.lws").read_bytes()
