// Loading a module file the way Layout does: open the library, find the
// descriptor, check its header words, run startup, read the server list.
#include "standin/loader.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>

#include <fstream>
#endif
#if TAMBERLO_LOADS_PE32
#include "pe32/image.h"
#endif

namespace standin {

// The module file, opened by the system's own loader, or, where the host runs
// Windows DLLs, by the PE32 loader when the file is one.
class LoadedModule::Library {
  public:
    explicit Library(const std::string &path);  // throws LoadError
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    void *Find(const char *name) const;

  private:
    void *system_ = nullptr;
#if TAMBERLO_LOADS_PE32
    std::unique_ptr<pe32::Image> dll_;
#endif
};

#if defined(_WIN32)
LoadedModule::Library::Library(const std::string &path) {
    system_ = reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
    if (system_ == nullptr)
        throw LoadError("cannot load module '" + path + "': Windows error " +
                        std::to_string(GetLastError()));
}
LoadedModule::Library::~Library() {
    FreeLibrary(static_cast<HMODULE>(system_));
}
void *LoadedModule::Library::Find(const char *name) const {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(system_), name));
}
#else
#if TAMBERLO_LOADS_PE32
namespace {

bool IsWindowsDll(const std::string &path) {
    char magic[2] = {};
    std::ifstream(path, std::ios::binary).read(magic, sizeof magic);
    return magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace
#endif

LoadedModule::Library::Library(const std::string &path) {
#if TAMBERLO_LOADS_PE32
    if (IsWindowsDll(path)) {
        try {
            dll_ = std::make_unique<pe32::Image>(path);
        } catch (const pe32::LoadError &error) {
            throw LoadError(std::string("cannot load module ") + error.what());
        }
        return;
    }
#endif
    // A path without a slash would be searched for in the system's library
    // folders; the host means the file it was given.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    system_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (system_ == nullptr) {
        const char *reason = dlerror();
        throw LoadError("cannot load module '" + path +
                        "': " + (reason != nullptr ? reason : "unknown error"));
    }
}
LoadedModule::Library::~Library() {
    if (system_ != nullptr) dlclose(system_);
}
void *LoadedModule::Library::Find(const char *name) const {
#if TAMBERLO_LOADS_PE32
    if (dll_ != nullptr) return dll_->Export(name);
#endif
    return dlsym(system_, name);
}
#endif

namespace {

std::string Hex(host::Word word) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(word));
    return text;
}

}  // namespace

LoadedModule::LoadedModule(const std::string &path)
    : path_(path), library_(std::make_unique<Library>(path)) {
    // A refusal from here on unloads the library with library_.
    descriptor_ =
        static_cast<const host::ModuleDescriptor *>(library_->Find(host::DESCRIPTOR_SYMBOL));
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
}

LoadedModule::~LoadedModule() {
    if (descriptor_ != nullptr && descriptor_->shutdown != nullptr)
        descriptor_->shutdown(startupResult_);
}

const ServerInfo *LoadedModule::FindServer(std::string_view name) const {
    for (const ServerInfo &server : servers_)
        if (server.name == name) return &server;
    return nullptr;
}

}  // namespace standin
