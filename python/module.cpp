// The extension module tamberlo._tamberlo, which the package tamberlo
// re-exports: its errors, and where its parts are bound.
#include <Python.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "python/binding.h"
#include "scenefile/scene_file.h"
#include "standin/loader.h"
#include "transfer/commands.h"
#include "transfer/item_selection.h"

namespace tamberlo_python {

namespace {

// The package's own exception types, made once when the module loads and
// kept for the life of the process, as Python's own types are.
struct Errors {
    py::handle error, refused, breach, sceneFile, load;
};
Errors errors;

py::handle NewError(py::module_ &module, const char *name, const char *doc, py::handle bases) {
    const std::string qualified = std::string("tamberlo.") + name;
    PyObject *type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (type == nullptr) throw py::error_already_set();
    module.add_object(name, type);
    return type;  // one reference stays with `errors`
}

// Raises an instance of `type` made from `message`, with attributes set.
void SetError(py::handle type, const std::string &message, const py::dict &attributes) {
    py::object error = type(py::str(message));
    for (const auto &[name, value] : attributes) py::setattr(error, name, value);
    PyErr_SetObject(type.ptr(), error.ptr());
}

void SetCommandError(const apps::CommandFailed &failure) {
    const apps::CommandReport &report = failure.Report();
    py::dict attributes;
    attributes["shown"] = Lines(report.shown);
    switch (failure.Why()) {
        case apps::CommandFailed::Reason::ContractBreach: {
            std::vector<std::string> breaches;
            std::ostringstream text;
            text << "the module broke the host contract " << report.breaches.size()
                 << (report.breaches.size() == 1 ? " time:" : " times:");
            for (const standin::Violation &violation : report.breaches) {
                std::ostringstream breach;
                breach << violation;
                breaches.push_back(breach.str());
                text << "\n  " << breach.str();
            }
            attributes["breaches"] = Lines(breaches);
            SetError(errors.breach, text.str(), attributes);
            return;
        }
        case apps::CommandFailed::Reason::Refused:
            SetError(errors.refused, report.refusal, attributes);
            return;
        case apps::CommandFailed::Reason::PanelFailure:
            PyErr_SetString(PyExc_ValueError, failure.what());
            return;
        case apps::CommandFailed::Reason::NotConfirmed:
            SetError(errors.error, failure.what(), attributes);
            return;
    }
}

void SetSelectionError(const apps::SelectionError &failure) {
    switch (failure.Why()) {
        case apps::SelectionError::Reason::NotFound:
            PyErr_SetString(PyExc_KeyError, failure.what());
            return;
        case apps::SelectionError::Reason::Malformed:
            PyErr_SetString(PyExc_ValueError, failure.what());
            return;
        case apps::SelectionError::Reason::Unreadable:
            PyErr_SetString(PyExc_OSError, failure.what());
            return;
    }
}

void SetSceneFileError(const standin::SceneFileError &failure) {
    if (failure.SystemError() == 0) {
        PyErr_SetString(errors.sceneFile.ptr(), failure.what());
        return;
    }
    // OSError(errno, text) becomes FileNotFoundError and its kin by itself.
    const py::object error =
        py::reinterpret_borrow<py::object>(PyExc_OSError)(failure.SystemError(), failure.what());
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
}

}  // namespace

py::list Lines(const std::vector<std::string> &lines) {
    py::list list;
    for (const std::string &line : lines) list.append(py::str(line));
    return list;
}

const char *Doc(std::string_view text) {
    constexpr std::size_t WIDTH = 76;
    static std::deque<std::string> docs;
    std::string &doc = docs.emplace_back();
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A line that begins with blanks keeps them on each of its pieces.
        const std::string_view indent = line.substr(0, line.find_first_not_of(' '));
        while (line.size() > WIDTH) {
            const std::size_t space = line.rfind(' ', WIDTH);
            if (space == std::string_view::npos || space <= indent.size()) break;
            doc.append(line.substr(0, space)).append("\n").append(indent);
            line.remove_prefix(space + 1);
        }
        doc.append(line);
        if (end != std::string_view::npos) doc += '\n';
    }
    return doc.c_str();
}

apps::ProgressLine &Quiet() {
    static apps::ProgressLine line(std::cerr, false);
    return line;
}

void RaiseOSError(const std::string &message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
}

void BindErrors(py::module_ &module) {
    errors.error = NewError(module, "Error",
                            Doc("The base of the errors only tamberlo raises. A command whose "
                                "panel was never confirmed raises it as it is."),
                            PyExc_Exception);
    errors.refused = NewError(
        module, "Refused",
        Doc("The module refused a command and said why, as Layout shows it in a message "
            "box: str(error) is its message in UTF-8. error.shown lists what the user saw."),
        errors.error);
    errors.breach = NewError(
        module, "ContractBreach",
        Doc("The module broke the host contract during a command. error.breaches lists every "
            "breach (the call, its arguments, the rule); error.shown what the user saw. The scene "
            "is left as the host holds it."),
        errors.error);
    errors.sceneFile = NewError(
        module, "SceneFileError",
        Doc("A file that is not a LightWave scene file of versions 3 to 5 (the message gives its "
            "file and line), or a scene that a file cannot hold, every such place named; a file "
            "changed on disk since it was read. Files the system would not open raise OSError."),
        py::make_tuple(errors.error, py::handle(PyExc_ValueError)));
    errors.load = NewError(module, "LoadError",
                           Doc("A module file that cannot be loaded, or whose descriptor or server "
                               "list Layout would refuse."),
                           errors.error);
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const apps::CommandFailed &failure) {
            SetCommandError(failure);
        } catch (const apps::SelectionError &failure) {
            SetSelectionError(failure);
        } catch (const standin::SceneFileError &failure) {
            SetSceneFileError(failure);
        } catch (const standin::LoadError &failure) {
            PyErr_SetString(errors.load.ptr(), failure.what());
        }
    });
}

}  // namespace tamberlo_python

PYBIND11_MODULE(_tamberlo, module) {
    namespace tp = tamberlo_python;
    module.doc() = "The C++ side of the package tamberlo; import tamberlo instead.";
    // Each docstring begins with the signature as Python writes one.
    tp::py::options options;
    options.disable_function_signatures();
    // Classes and functions name the package, which is where users meet them.
    const tp::py::object ownName = module.attr("__name__");
    module.attr("__name__") = "tamberlo";
    tp::BindErrors(module);
    tp::BindScenes(module);
    tp::BindCommands(module);
    module.attr("__name__") = ownName;
}
