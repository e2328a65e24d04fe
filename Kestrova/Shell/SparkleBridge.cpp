#include "Shell/SparkleBridge.hpp"

#include <system_error>

#include <dlfcn.h>

namespace kestrova {
namespace {

/// A loaded shared library. RTLD_NODELETE keeps its code mapped after dlclose: work the plug-in
/// started (a fetch whose completion is still queued) may run plug-in code after the last handle
/// is gone.
class SharedLibrary {
public:
    static joblark::Expected<std::shared_ptr<SharedLibrary>> open(const std::filesystem::path& path) {
        ::dlerror();
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle)
            return joblark::Unexpected{
                joblark::makeError(lastError("The update plug-in could not be loaded"))};
        return std::make_shared<SharedLibrary>(handle);
    }
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    ~SharedLibrary() { ::dlclose(handle_); }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    template <class Function>
    Function* symbol(const char* name) const {
        ::dlerror();
        void* address = ::dlsym(handle_, name);
        return ::dlerror() ? nullptr : reinterpret_cast<Function*>(address);
    }

    static std::string lastError(std::string_view what) {
        const char* detail = ::dlerror();
        return std::string(what) + (detail ? std::string(": ") + detail : std::string("."));
    }

private:
    void* handle_;
};

/// Keeps the library loaded for as long as the plug-in object lives; the plug-in goes first.
struct LoadedPlugin {
    std::shared_ptr<SharedLibrary> library;
    std::unique_ptr<SparkleBridgePlugin> plugin;
};

std::filesystem::path programDirectory() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

} // namespace

std::vector<std::filesystem::path> SparkleBridgeClient::defaultSearchFolders() {
    std::vector<std::filesystem::path> folders;
    if (auto dir = programDirectory(); !dir.empty())
        folders.push_back(dir.parent_path() / "lib" / "kestrova" / "plugins");
#ifdef KESTROVA_BUILD_PLUGIN_DIR
    folders.emplace_back(KESTROVA_BUILD_PLUGIN_DIR);
#endif
    return folders;
}

joblark::Expected<std::shared_ptr<SparkleBridgePlugin>>
SparkleBridgeClient::load(const SparkleBridgeConfiguration& configuration,
                          const std::vector<std::filesystem::path>& folders) {
    std::optional<std::filesystem::path> file;
    for (const auto& folder : folders) {
        std::error_code error;
        if (std::filesystem::is_regular_file(folder / pluginFileName, error)) {
            file = folder / pluginFileName;
            break;
        }
    }
    if (!file)
        return joblark::Unexpected{joblark::makeError("No update plug-in was found.")};

    auto library = SharedLibrary::open(*file);
    if (!library)
        return joblark::Unexpected{library.error()};
    auto version = (*library)->symbol<int()>("kestrova_sparkle_bridge_interface_version");
    auto create =
        (*library)->symbol<void(const SparkleBridgeConfiguration&, std::unique_ptr<SparkleBridgePlugin>&)>(
            "kestrova_sparkle_bridge_create");
    if (!version || !create)
        return joblark::Unexpected{joblark::makeError(file->string() + " is not an update plug-in.")};
    if (version() != sparkleBridgeInterfaceVersion)
        return joblark::Unexpected{
            joblark::makeError(file->string() + " was built for another version of Kestrova.")};

    auto loaded = std::make_shared<LoadedPlugin>();
    loaded->library = *library;
    create(configuration, loaded->plugin);
    if (!loaded->plugin)
        return joblark::Unexpected{joblark::makeError("The update plug-in could not be started.")};
    SparkleBridgePlugin* plugin = loaded->plugin.get();
    return std::shared_ptr<SparkleBridgePlugin>(std::move(loaded), plugin);
}

} // namespace kestrova
