"""The package as a Python user meets it: help() on every public name, type
stubs for editors, reprs that say what a thing is, and an install that
Debian's Python finds."""

import ast
import os
import pydoc
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import tamberlo
from conftest import BUILD, SAMPLES


def test_help_shows_every_public_name_with_its_docstring():
    text = pydoc.render_doc(tamberlo, renderer=pydoc.plaintext)
    for name in tamberlo.__all__:
        thing = getattr(tamberlo, name)
        if name in ("KEY_DTYPE", "CHANNEL_NAMES"):
            assert name in text
            continue
        assert thing.__doc__ and len(thing.__doc__) > 20, name
        assert name in text and " ".join(thing.__doc__.split()[:4]) in " ".join(text.split()), name
    for cls in (tamberlo.Scene, tamberlo.Channel, tamberlo.Module, tamberlo.PasteResult):
        for member, value in vars(cls).items():
            if not member.startswith("_"):
                assert value.__doc__, f"{cls.__name__}.{member}"


def test_the_stubs_declare_every_public_name_and_member():
    stubs = ast.parse((Path(tamberlo.__file__).parent / "__init__.pyi").read_text())
    declared = {node.name: node for node in stubs.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    declared.update({node.target.id: node for node in stubs.body if isinstance(node, ast.AnnAssign)})
    assert set(tamberlo.__all__) <= declared.keys()
    for name in tamberlo.__all__:
        if isinstance(declared[name], ast.ClassDef) and not issubclass(getattr(tamberlo, name), Exception):
            members = {n.name if isinstance(n, ast.FunctionDef) else n.target.id for n in declared[name].body}
            public = {m for m in vars(getattr(tamberlo, name)) if not m.startswith("_")}
            assert public <= members, (name, public - members)


def test_reprs_say_what_a_thing_is(module):
    walk = tamberlo.read_scene("samples/walk.lws")
    runner = walk.items["Runner"]
    assert repr(walk) == ("<tamberlo.Scene 'samples/walk.lws': format version 5, 6 items, frames 0 "
                          "to 60 at 30 frames per second>")
    assert repr(runner) == "<tamberlo.Item 'Runner': object, 9 channels, line 15 of samples/walk.lws>"
    assert repr(runner.channels[1]) == "<tamberlo.Channel Runner Position.Y: distance, 5 keys, behaviours 2 2>"
    assert repr(module.copy(walk, "Runner", frames=(0, 9))) == (
        "<tamberlo.CopyResult 1 items of samples/walk.lws, frames 0 to 9>")
    assert repr(module).startswith("<tamberlo.Module '") and repr(module).endswith("Tamberlo.p'>")
    assert repr(tamberlo.read_map("samples/walk-onto-stage.map")).endswith(": 2 pairs>")


def test_the_default_module_stands_beside_the_package(module):
    assert Path(module.path) == Path(tamberlo.__file__).parent / "Tamberlo.p"
    assert Path(module.path).read_bytes() == (BUILD / "Tamberlo.p").read_bytes()


def test_the_install_puts_it_where_debians_python_finds_it(tmp_path):
    subprocess.run(["cmake", "--install", BUILD, "--component", "python", "--prefix", tmp_path],
                   check=True, capture_output=True)
    found = list(tmp_path.glob("lib/python3*/dist-packages/tamberlo/__init__.py"))
    assert len(found) == 1
    site = found[0].parent.parent
    # Under the default prefix, /usr/local, that is where Debian's Python looks.
    assert "/usr/local" / site.relative_to(tmp_path) == Path(sysconfig.get_path("platlib"))
    script = ("import tamberlo, sys; m = tamberlo.load_module(); "
              f"print(tamberlo.__file__, m.path, len(tamberlo.read_scene({str(SAMPLES / 'walk.lws')!r}).items))")
    shown = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, check=True, text=True,
                           capture_output=True, env={**os.environ, "PYTHONPATH": str(site)}).stdout
    assert shown.split() == [str(site / "tamberlo/__init__.py"), str(site / "tamberlo/Tamberlo.p"), "6"]
