"""What every test of the Python package shares: the source and build trees,
the sample scenes, tamberlo-scene to compare with, and a folder watched for
files a failed call must not leave."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(os.environ["TAMBERLO_SOURCE_DIR"])
BUILD = Path(os.environ["TAMBERLO_BUILD_DIR"])
SAMPLES = SOURCE / "samples"
TOOL = os.environ["TAMBERLO_SCENE_TOOL"]
MISUSE_MODULE = os.environ["TAMBERLO_MISUSE_MODULE"]

# The README's example: what it copies, from where, and where it pastes.
EXAMPLE = dict(source=["Runner", "Tracker"], target=["Dancer", "Prop Null"], frames=(10, 40),
               at=30, off="Runner:Rotation.H", toggle="Tracker:Scale")


def run_tool(*arguments, cwd=SOURCE):
    """tamberlo-scene's standard output, for a run that must succeed."""
    result = subprocess.run([TOOL, *map(str, arguments)], cwd=cwd, capture_output=True,
                            text=True, check=False)
    assert result.returncode == 0, result.stderr
    return result.stdout


def tool_example(output, plot=None):
    """The README's example run by tamberlo-scene, written to `output`."""
    return run_tool("samples/walk.lws", "--from", "Runner,Tracker", "--into",
                    "samples/stage.lws", "--to", "Dancer,Prop Null", "--frames", "10:40",
                    "--at", "30", "--off", "Runner:Rotation.H", "--toggle", "Tracker:Scale",
                    "-o", output, *(["--plot", plot] if plot else []))


@pytest.fixture(autouse=True)
def in_source_tree(monkeypatch):
    """Scene paths read as in the README: relative to the source tree."""
    monkeypatch.chdir(SOURCE)


@pytest.fixture
def module():
    import tamberlo
    with tamberlo.load_module() as loaded:
        yield loaded


@pytest.fixture
def stage_copy(tmp_path):
    """A copy of stage.lws of a test's own, and the folder it stands in."""
    path = tmp_path / "stage.lws"
    shutil.copyfile(SAMPLES / "stage.lws", path)
    return path


def folder_state(folder):
    """Every file of a folder and its bytes, to tell that nothing was written."""
    return {path.name: path.read_bytes() for path in Path(folder).iterdir()}
