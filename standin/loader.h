// Module loader: opens a module file, checks its descriptor and lists its
// servers, as Layout does at load.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.h"

namespace standin {

class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ServerInfo {
    std::string className;
    std::string name;
    host::ActivateFunc activate = nullptr;
};

// Loads a module file, checks its descriptor and calls its startup routine;
// the destructor calls shutdown and unloads the file. The file is a library
// of the system the host runs on; the 32-bit Linux host also takes a 32-bit
// Windows DLL, which it loads as Windows would.
class LoadedModule {
  public:
    explicit LoadedModule(const std::string &path);  // throws LoadError
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    const host::ModuleDescriptor &Descriptor() const { return *descriptor_; }
    const std::vector<ServerInfo> &Servers() const { return servers_; }
    const ServerInfo *FindServer(std::string_view name) const;
    void *StartupResult() const { return startupResult_; }
    const std::string &Path() const { return path_; }

  private:
    class Library;

    std::string path_;
    std::unique_ptr<Library> library_;
    const host::ModuleDescriptor *descriptor_ = nullptr;
    void *startupResult_ = nullptr;
    std::vector<ServerInfo> servers_;
};

}  // namespace standin
