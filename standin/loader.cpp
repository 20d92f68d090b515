// Loading a module file the way Layout does: open the library, find the
// descriptor, check its header words, run startup, read the server list.
#include "standin/loader.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

namespace {

#if defined(_WIN32)
void *OpenLibrary(const std::string &path, std::string &error) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) error = "Windows error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(library);
}
void *FindSymbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void *library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
#else
void *OpenLibrary(const std::string &path, std::string &error) {
    // A path without a slash would be searched for in the system's library
    // folders; the host means the file it was given.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void *library = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return library;
}
void *FindSymbol(void *library, const char *name) {
    return dlsym(library, name);
}
void CloseLibrary(void *library) {
    dlclose(library);
}
#endif

std::string Hex(host::Word word) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(word));
    return text;
}

}  // namespace

LoadedModule::LoadedModule(const std::string &path) : path_(path) {
    std::string error;
    library_ = OpenLibrary(path, error);
    if (library_ == nullptr) throw LoadError("cannot load module '" + path + "': " + error);

    // Any refusal from here on must unload the library again.
    struct Unloader {
        void *&library;
        bool armed = true;
        ~Unloader() {
            if (armed) {
                CloseLibrary(library);
                library = nullptr;
            }
        }
    } unloader{library_};

    descriptor_ =
        static_cast<const host::ModuleDescriptor *>(FindSymbol(library_, host::DESCRIPTOR_SYMBOL));
    if (descriptor_ == nullptr)
        throw LoadError("module '" + path + "' has no " + host::DESCRIPTOR_SYMBOL);
    // The header words say which loader the module was built for; a module
    // for another system version or machine would misread every record.
    const auto checkWord = [&](const char *what, host::Word found, host::Word expected) {
        if (found != expected)
            throw LoadError("module '" + path + "' has a wrong " + what + " " + Hex(found) +
                            " (expected " + Hex(expected) + ")");
    };
    checkWord("sync word", descriptor_->sync, host::MODULE_SYNC);
    checkWord("system version", descriptor_->systemVersion, host::MODULE_SYSTEM_VERSION);
    checkWord("machine word", descriptor_->machine, host::MODULE_MACHINE);
    if (descriptor_->startup != nullptr) {
        startupResult_ = descriptor_->startup();
        if (startupResult_ == nullptr) throw LoadError("module '" + path + "' refused to start up");
    }
    if (descriptor_->servers != nullptr) {
        for (const host::ServerRecord *record = descriptor_->servers; record->className != nullptr;
             ++record) {
            servers_.push_back(ServerInfo{
                record->className, record->name != nullptr ? record->name : "", record->activate});
        }
    }
    unloader.armed = false;
}

LoadedModule::~LoadedModule() {
    if (descriptor_ != nullptr && descriptor_->shutdown != nullptr)
        descriptor_->shutdown(startupResult_);
    if (library_ != nullptr) CloseLibrary(library_);
}

const ServerInfo *LoadedModule::FindServer(std::string_view name) const {
    for (const ServerInfo &server : servers_)
        if (server.name == name) return &server;
    return nullptr;
}

}  // namespace standin
