#include "joblark/Foundation/FileLocations.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace joblark::FileLocations {
namespace {

namespace fs = std::filesystem;

std::string systemError(int error) {
    std::array<char, 256> buffer{};
    // GNU strerror_r may return a static string instead of filling the buffer.
    return ::strerror_r(error, buffer.data(), buffer.size());
}

/// An environment variable that holds an absolute path; anything else counts as unset.
std::optional<fs::path> absoluteEnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute())
        return std::nullopt;
    return path;
}

/// Creates every missing component with mode 0700; existing directories keep their mode.
void createPrivateDirectories(const fs::path& directory) {
    fs::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return;
    }
}

struct ApplicationName {
    std::mutex mutex;
    std::string name;
};

ApplicationName& registeredName() {
    static ApplicationName name;
    return name;
}

fs::path applicationDirectory(const char* variable, const fs::path& fallbackBelowHome) {
    auto base = absoluteEnvironmentPath(variable).value_or(homeDirectory() / fallbackBelowHome);
    auto directory = base / applicationName();
    createPrivateDirectories(directory);
    return directory;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Closes now and reports the result: on some file systems close is where a write error shows.
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

std::string randomSuffix() {
    static constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string suffix(8, ' ');
    for (auto& c : suffix)
        c = alphabet[pick(generator)];
    return suffix;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

void setApplicationName(std::string name) {
    // A name is one path component: no separators, not "." or "..".
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return;
    std::lock_guard lock(registeredName().mutex);
    registeredName().name = std::move(name);
}

std::string applicationName() {
    std::lock_guard lock(registeredName().mutex);
    if (registeredName().name.empty())
        return program_invocation_short_name && *program_invocation_short_name ? program_invocation_short_name
                                                                               : "joblark";
    return registeredName().name;
}

fs::path homeDirectory() {
    if (auto home = absoluteEnvironmentPath("HOME"))
        return *home;
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return fs::path(found->pw_dir);
    return fs::temp_directory_path();
}

fs::path cacheDirectory() {
    return applicationDirectory("XDG_CACHE_HOME", ".cache");
}

fs::path dataDirectory() {
    return applicationDirectory("XDG_DATA_HOME", fs::path(".local") / "share");
}

fs::path configDirectory() {
    return applicationDirectory("XDG_CONFIG_HOME", ".config");
}

fs::path documentsDirectory() {
    if (auto documents = absoluteEnvironmentPath("XDG_DOCUMENTS_DIR")) {
        createPrivateDirectories(*documents);
        return *documents;
    }
    return dataDirectory();
}

WriteResult writeFileAtomically(const fs::path& path, std::string_view text, mode_t mode) {
    return writeFileAtomically(
        path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
        mode);
}

WriteResult writeFileAtomically(const fs::path& path, std::span<const std::uint8_t> bytes, mode_t mode) {
    auto failure = [&](std::string what, int error) {
        return WriteResult{false, what + " " + path.string() + ": " + systemError(error)};
    };
    if (path.empty() || !path.has_filename())
        return WriteResult{false, "Not a file path: " + path.string()};
    fs::path directory = path.parent_path();
    if (directory.empty())
        directory = ".";
    const std::string prefix = "." + path.filename().string() + ".tmp-";

    // Nameless where the file system allows: a writer killed before the rename leaves nothing.
    // Elsewhere (or without /proc to name it by) a named file, created with O_EXCL under a random
    // name so that nothing someone else placed there is reused or followed.
    fs::path temporary;
    FileDescriptor file(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    bool nameless = file.valid();
    auto discard = [&](std::string what, int error) {
        if (!temporary.empty())
            ::unlink(temporary.c_str());
        return failure(std::move(what), error);
    };
    for (int pass = 0; pass < 2; ++pass) {
        if (!nameless) {
            for (int attempt = 0; attempt < 16 && !file.valid(); ++attempt) {
                temporary = directory / (prefix + randomSuffix());
                file =
                    FileDescriptor(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
                if (!file.valid() && errno != EEXIST)
                    return failure("Unable to create a temporary file for", errno);
            }
            if (!file.valid())
                return failure("Unable to create a temporary file for", EEXIST);
        }
        if (!writeAll(file.get(), bytes.data(), bytes.size()))
            return discard("Unable to write", errno);
        if (::fsync(file.get()) != 0)
            return discard("Unable to sync", errno);
        if (!nameless)
            break;
        // linkat cannot replace a file, so the data gets a temporary name and is renamed as usual.
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        int error = EEXIST;
        for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
            temporary = directory / (prefix + randomSuffix());
            error = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0
                        ? 0
                        : errno;
        }
        if (error == 0)
            break;
        temporary.clear();
        if (error != ENOENT) // ENOENT: no /proc; write a named file instead
            return failure("Unable to name the temporary file for", error);
        nameless = false;
        file = FileDescriptor(-1);
    }
    if (file.close() != 0)
        return discard("Unable to close", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return discard("Unable to replace", errno);

    // Make the rename itself durable. Some file systems cannot sync a directory (EINVAL); the data
    // is in place regardless, so only a real I/O failure is reported.
    FileDescriptor parent(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.valid() && ::fsync(parent.get()) != 0 && errno == EIO)
        return failure("Unable to sync the directory of", errno);
    return WriteResult{true, {}};
}

std::size_t removeStaleTemporaryFiles(const fs::path& path, std::chrono::seconds age) {
    fs::path directory = path.parent_path();
    if (directory.empty())
        directory = ".";
    const std::string prefix = "." + path.filename().string() + ".tmp-";
    const auto cutoff = fs::file_time_type::clock::now() - age;
    std::size_t removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::string_view suffix = std::string_view(name).substr(std::min(name.size(), prefix.size()));
        const bool ours =
            name.size() == prefix.size() + 8 && name.compare(0, prefix.size(), prefix) == 0 &&
            suffix.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") == std::string_view::npos;
        std::error_code ignored;
        if (ours && it->is_regular_file(ignored) && it->last_write_time(ignored) < cutoff &&
            fs::remove(it->path(), ignored))
            ++removed;
    }
    return removed;
}

std::optional<std::vector<std::uint8_t>> readFile(const fs::path& path, std::size_t maxSize) {
    // O_NONBLOCK so that a FIFO placed at the path cannot block the open.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid())
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxSize)
        return std::nullopt;

    std::vector<std::uint8_t> contents;
    contents.reserve(static_cast<std::size_t>(info.st_size));
    std::array<std::uint8_t, 65536> chunk{};
    // The file may grow after fstat; the limit applies to what is actually read.
    for (;;) {
        ssize_t count = ::read(file.get(), chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            break;
        if (contents.size() + static_cast<std::size_t>(count) > maxSize)
            return std::nullopt;
        contents.insert(contents.end(), chunk.begin(), chunk.begin() + count);
    }
    return contents;
}

} // namespace joblark::FileLocations
