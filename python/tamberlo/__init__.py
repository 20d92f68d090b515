"""Tamberlo from Python: LightWave scene files, the stand-in Layout host and
the real Tamberlo.p module, for pipelines that move motion between scenes.

The same C++ as tamberlo-scene does the work: scenes are read into stand-in
hosts and written back whole or not at all, and the module's copy and paste
panels are worked as a person in Layout would. One loaded module serves any
number of scenes, and its clipboard lives as long as it stays loaded.

    import tamberlo

    walk = tamberlo.read_scene("samples/walk.lws")
    stage = tamberlo.read_scene("samples/stage.lws")
    with tamberlo.load_module() as module:
        module.copy(walk, ["Runner", "Tracker"], frames=(10, 40))
        pasted = module.paste(stage, ["Dancer", "Prop Null"], at=30)
    stage.write("build/stage-pasted.lws")
    pasted.draw("build/stage-pasted.svg")

A channel's keys are NumPy structured arrays of KEY_DTYPE:

    keys = stage.items["Dancer"].channels["Position.X"].keys
    keys["value"] *= 2
    stage.items["Dancer"].channels["Position.X"].keys = keys
"""

from ._tamberlo import (
    CHANNEL_NAMES,
    KEY_DTYPE,
    Change,
    Channel,
    Channels,
    ContractBreach,
    CopyResult,
    Error,
    Item,
    ItemMap,
    Items,
    LoadError,
    Module,
    PasteResult,
    Refused,
    Scene,
    SceneFileError,
    load_module,
    read_map,
    read_scene,
)

__all__ = [
    "read_scene",
    "load_module",
    "read_map",
    "Scene",
    "Items",
    "Item",
    "Channels",
    "Channel",
    "KEY_DTYPE",
    "CHANNEL_NAMES",
    "Module",
    "ItemMap",
    "CopyResult",
    "PasteResult",
    "Change",
    "Error",
    "Refused",
    "ContractBreach",
    "SceneFileError",
    "LoadError",
]
