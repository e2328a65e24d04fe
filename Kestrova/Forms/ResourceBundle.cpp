#include "Forms/ResourceBundle.hpp"

#include <cstdlib>
#include <system_error>

#include <unistd.h>

namespace kestrova {
namespace {

bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::filesystem::path programDirectory() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

} // namespace

ResourceBundle::ResourceBundle(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<std::filesystem::path> ResourceBundle::candidateRoots(const char* overrideValue,
                                                                  const std::filesystem::path& programDir) {
    std::vector<std::filesystem::path> roots;
    if (overrideValue && *overrideValue)
        roots.emplace_back(overrideValue);
    if (!programDir.empty())
        roots.push_back(programDir.parent_path() / "share" / "kestrova");
#ifdef KESTROVA_SOURCE_RESOURCES_DIR
    roots.emplace_back(KESTROVA_SOURCE_RESOURCES_DIR);
#endif
    return roots;
}

const ResourceBundle& ResourceBundle::main() {
    static const ResourceBundle bundle = [] {
        const auto roots = candidateRoots(std::getenv(overrideVariable), programDirectory());
        for (const auto& root : roots) {
            std::error_code error;
            if (std::filesystem::is_directory(root, error))
                return ResourceBundle(root);
        }
        return ResourceBundle(roots.empty() ? std::filesystem::path() : roots.back());
    }();
    return bundle;
}

bool ResourceBundle::containsDirectory(std::string_view name) const {
    std::error_code error;
    return isPlainName(name) && std::filesystem::is_directory(root_ / name, error);
}

std::optional<joblark::URL> ResourceBundle::url(std::string_view name, std::string_view extension,
                                                std::string_view subdirectory) const {
    if (!isPlainName(name) || !isPlainName(subdirectory) || extension.find('/') != std::string_view::npos)
        return std::nullopt;
    auto file =
        root_ / subdirectory / (std::string(name) + (extension.empty() ? "" : ".") + std::string(extension));
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    return joblark::URL::fileURL(file);
}

bool ResourceBundle::contains(const joblark::URL& fileURL, std::string_view subdirectory) const {
    if (!fileURL.isFileURL() || !isPlainName(subdirectory))
        return false;
    std::error_code error;
    const auto folder = std::filesystem::weakly_canonical(root_ / subdirectory, error);
    if (error)
        return false;
    const auto target = std::filesystem::weakly_canonical(std::filesystem::path(fileURL.path()), error);
    if (error)
        return false;
    const auto relative = target.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

} // namespace kestrova
