// python/: the Python package tamberlo, a binding over the libraries that
// tamberlo-scene is made of, holding no logic of its own.
//
// What the parts of the binding share: the scene as Python holds it, the
// translation of the libraries' errors, and the progress line that shows
// nothing.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/loaded_scene.h"
#include "transfer/progress.h"

namespace tamberlo_python {

namespace py = pybind11;

// A scene as Python holds it: every object that names a part of it (an item,
// a channel) shares it, so that the scene lives while any of them does.
using ScenePtr = std::shared_ptr<apps::LoadedScene>;

// The progress line of the library's long steps, never shown: a Python
// program says what it likes about its own steps.
apps::ProgressLine &Quiet();

// A docstring as help() shows Python's own: its lines wrapped at 76 columns
// (the lines it has are kept: a signature first, a blank line, the text).
// The text lives as long as the process, as pybind11 keeps some docstrings
// by their address.
const char *Doc(std::string_view text);

// Lines of text, as a list of str.
py::list Lines(const std::vector<std::string> &lines);

// Raises OSError with `message`, for a file that could not be written.
[[noreturn]] void RaiseOSError(const std::string &message);

// The classes and functions of each part, added to the package's module.
void BindErrors(py::module_ &module);
void BindScenes(py::module_ &module);
void BindCommands(py::module_ &module);

}  // namespace tamberlo_python
