// Loading a plug-in module as X-Plane does: a fresh private copy, the five entry functions, start to stop.
#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "HostState.h"

namespace simhost {

struct LoadedPlugin::Impl {
    int id = 0;  // owner number of everything the plug-in registers or creates
    std::string path;
    std::string copyPath;
    void *handle = nullptr;
    int (*start)(char *, char *, char *) = nullptr;
    void (*stop)() = nullptr;
    int (*enable)() = nullptr;
    void (*disable)() = nullptr;
    void (*receive)(XPLMPluginID, int, void *) = nullptr;
    bool started = false;
    bool enabled = false;
    std::string name, signature, description;
};

namespace {

#ifdef _WIN32
// LoadLibrary gives back the module already loaded under a name, so every load gets a copy under a
// name of its own; the ".xpl" stays, since a name without an extension would be looked up as ".dll".
bool CreateUniqueFile(std::string &name, std::string &error) {
    static unsigned counter = 0;
    const std::string folder = std::filesystem::temp_directory_path().string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "\\skorvale-plugin-" + std::to_string(_getpid()) + "-" + std::to_string(++counter) + ".xpl";
        int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            _close(fd);
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = "cannot create a temporary file in " + folder + ": " + std::strerror(errno);
    return false;
}

bool Readable(const std::string &path) { return _access(path.c_str(), 4 /* read */) == 0; }
void *OpenModule(const std::string &path) { return LoadLibraryA(path.c_str()); }
void *ModuleSymbol(void *handle, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseModule(void *handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
std::string ModuleError() {
    DWORD code = GetLastError();
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
    return (n ? std::string(text) : std::string("error")) + " (" + std::to_string(code) + ")";
}
#else
// dlopen keys loaded objects by path, so a second load of the same file would share the first's globals.
// A copy under a unique name makes each load a separate object.
bool CreateUniqueFile(std::string &name, std::string &error) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/skorvale-plugin-XXXXXX";
    std::vector<char> chars(pattern.begin(), pattern.end());
    chars.push_back('\0');
    int fd = mkstemp(chars.data());
    if (fd < 0) {
        error = "cannot create a temporary file in " + pattern + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    name = chars.data();
    return true;
}

bool Readable(const std::string &path) { return access(path.c_str(), R_OK) == 0; }
void *OpenModule(const std::string &path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void *ModuleSymbol(void *handle, const char *name) { return dlsym(handle, name); }
void CloseModule(void *handle) { dlclose(handle); }
std::string ModuleError() {
    const char *why = dlerror();
    return why ? why : "unknown error";
}
#endif

bool CopyToUniquePath(const std::string &from, std::string &to, std::string &error) {
    if (!CreateUniqueFile(to, error)) {
        error = "cannot create a temporary copy of " + from + ": " + error;
        return false;
    }
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    if (!in || !out) {
        error = "cannot copy " + from + " to " + to;
        std::remove(to.c_str());
        return false;
    }
    return true;
}

template <typename F>
bool Resolve(void *handle, const char *symbol, F &out, std::string &error, const std::string &path) {
    out = reinterpret_cast<F>(ModuleSymbol(handle, symbol));
    if (!out) error = path + " is not an X-Plane plug-in: it has no " + symbol;
    return out != nullptr;
}

// Copies a plug-in's fixed 256-byte text, tolerating a missing terminator.
std::string FromBuffer(const char *buffer) { return std::string(buffer, strnlen(buffer, 256)); }

}  // namespace

LoadedPlugin::LoadedPlugin() : impl_(std::make_unique<Impl>()) {
    static int lastId = 0;
    impl_->id = ++lastId;
    // Loaded is not yet enabled: no callbacks until XPluginEnable has succeeded.
    State().disabledPlugins.insert(impl_->id);
}

std::unique_ptr<LoadedPlugin> LoadedPlugin::Load(const std::string &path, std::string &error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !Readable(path)) {
        error = "cannot read plug-in " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "plug-in " + path + " is not a file";
        return nullptr;
    }
    std::unique_ptr<LoadedPlugin> plugin(new LoadedPlugin());
    Impl &p = *plugin->impl_;
    p.path = path;
    if (!CopyToUniquePath(path, p.copyPath, error)) return nullptr;
    p.handle = OpenModule(p.copyPath);
    if (!p.handle) {
        error = path + " is not a loadable module: " + ModuleError();
        return nullptr;  // the destructor removes the copy
    }
    if (!Resolve(p.handle, "XPluginStart", p.start, error, path) ||
        !Resolve(p.handle, "XPluginStop", p.stop, error, path) ||
        !Resolve(p.handle, "XPluginEnable", p.enable, error, path) ||
        !Resolve(p.handle, "XPluginDisable", p.disable, error, path) ||
        !Resolve(p.handle, "XPluginReceiveMessage", p.receive, error, path))
        return nullptr;
    State().messageReceivers[p.id] = p.receive;
    return plugin;
}

LoadedPlugin::~LoadedPlugin() {
    if (impl_->enabled) Disable();
    if (impl_->started) Stop();
    // Nothing may call into the module once it is gone: its published refs and pending loads go first.
    ForgetPluginCode(State(), impl_->id);
    if (impl_->handle) CloseModule(impl_->handle);
    if (!impl_->copyPath.empty()) std::remove(impl_->copyPath.c_str());
    State().disabledPlugins.erase(impl_->id);
    State().messageReceivers.erase(impl_->id);
}

int LoadedPlugin::Start() {
    char name[256] = {}, sig[256] = {}, desc[256] = {};
    PluginScope scope(State(), impl_->id);
    int result = impl_->start(name, sig, desc);
    impl_->name = FromBuffer(name);
    impl_->signature = FromBuffer(sig);
    impl_->description = FromBuffer(desc);
    impl_->started = result != 0;
    return result;
}

int LoadedPlugin::Enable() {
    HostState &s = State();
    int result;
    {
        PluginScope scope(s, impl_->id);
        result = impl_->enable();
    }
    impl_->enabled = result != 0;
    if (impl_->enabled) s.disabledPlugins.erase(impl_->id);
    return result;
}

void LoadedPlugin::Disable() {
    HostState &s = State();
    {
        PluginScope scope(s, impl_->id);
        impl_->disable();
    }
    impl_->enabled = false;
    s.disabledPlugins.insert(impl_->id);
    // X-Plane takes the multiplayer aircraft back from a disabled plug-in; it must acquire them again.
    ReleasePlanesOf(s, impl_->id);
}

void LoadedPlugin::Stop() {
    PluginScope scope(State(), impl_->id);
    impl_->stop();
    impl_->started = false;
}

void LoadedPlugin::ReceiveMessage(XPLMPluginID from, int message, void *param) {
    PluginScope scope(State(), impl_->id);
    impl_->receive(from, message, param);
}

bool LoadedPlugin::Started() const { return impl_->started; }
bool LoadedPlugin::Enabled() const { return impl_->enabled; }
const std::string &LoadedPlugin::Name() const { return impl_->name; }
const std::string &LoadedPlugin::Signature() const { return impl_->signature; }
const std::string &LoadedPlugin::Description() const { return impl_->description; }
const std::string &LoadedPlugin::Path() const { return impl_->path; }

}  // namespace simhost
