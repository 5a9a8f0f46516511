#include "updater/package_extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "services/unique_fd.h"

namespace velquist::updater {

namespace {

namespace fs = std::filesystem;

constexpr zip_uint8_t kOpsysUnix = ZIP_OPSYS_UNIX;
constexpr zip_uint32_t kDosDirectory = 0x10;

struct ZipCloser {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};

struct Entry {
    zip_uint64_t index = 0;
    std::string path;  // below the target folder
    bool directory = false;
    bool executable = false;
    zip_uint64_t size = 0;
    bool sizeKnown = false;
};

std::string Quoted(const char* name) { return std::string("\"") + (name ? name : "") + "\""; }

// What the archive says of entry `index`; nullopt with `problem` set when it is refused. An
// entry naming the folder itself comes back with an empty path.
std::optional<Entry> CheckEntry(zip_t* archive, zip_uint64_t index, std::string& problem) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
        problem = "entry " + std::to_string(index) + " cannot be read";
        return std::nullopt;
    }
    const std::string name = stat.name;
    const auto path = SafeEntryPath(name);
    if (!path) {
        problem = "entry " + Quoted(stat.name) + " would be written outside the folder";
        return std::nullopt;
    }
    Entry entry;
    entry.index = index;
    entry.path = *path;
    entry.directory = !name.empty() && (name.back() == '/' || name.back() == '\\');

    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) == 0) {
        if (opsys == kOpsysUnix) {
            const mode_t mode = static_cast<mode_t>(attributes >> 16);
            const mode_t type = mode & S_IFMT;
            if (type == S_IFLNK) {
                problem = "entry " + Quoted(stat.name) + " is a symbolic link";
                return std::nullopt;
            }
            if (type != 0 && type != S_IFREG && type != S_IFDIR) {
                problem = "entry " + Quoted(stat.name) + " is not a plain file or folder";
                return std::nullopt;
            }
            entry.directory = entry.directory || type == S_IFDIR;
            entry.executable = (mode & 0111) != 0;
        } else if (attributes & kDosDirectory) {
            entry.directory = true;
        }
    }
    if (entry.directory) return entry;
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
        problem = "entry " + Quoted(stat.name) + " is encrypted";
        return std::nullopt;
    }
    if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
        !zip_compression_method_supported(static_cast<zip_int32_t>(stat.comp_method), 0)) {
        problem = "entry " + Quoted(stat.name) + " is packed in a way that cannot be read";
        return std::nullopt;
    }
    if (entry.path.empty()) {
        problem = "entry " + Quoted(stat.name) + " is a file without a name";
        return std::nullopt;
    }
    entry.sizeKnown = (stat.valid & ZIP_STAT_SIZE) != 0;
    entry.size = stat.size;
    return entry;
}

// Refuses two entries for one path, and a file that another entry treats as a folder.
bool CheckLayout(const std::vector<Entry>& entries, std::string& problem) {
    std::map<std::string, bool> kinds;  // path -> is a folder
    for (const Entry& entry : entries) {
        std::size_t slash = 0;
        while ((slash = entry.path.find('/', slash)) != std::string::npos) {
            const std::string parent = entry.path.substr(0, slash++);
            const auto [it, added] = kinds.emplace(parent, true);
            if (!it->second) {
                problem = "\"" + parent + "\" is both a file and a folder";
                return false;
            }
        }
        const auto [it, added] = kinds.emplace(entry.path, entry.directory);
        if (!added && !(it->second && entry.directory)) {
            problem = "\"" + entry.path + "\" comes more than once";
            return false;
        }
    }
    return true;
}

bool WriteEntry(zip_t* archive, const Entry& entry, const std::string& target,
                std::string& problem) {
    const fs::path path = fs::path(target) / entry.path;
    std::error_code ec;
    if (entry.directory) {
        fs::create_directories(path, ec);
        if (ec) problem = "cannot create " + path.string() + ": " + ec.message();
        return !ec;
    }
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        problem = "cannot create " + path.parent_path().string() + ": " + ec.message();
        return false;
    }
    UniqueFd out = AdoptFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                                  entry.executable ? 0755 : 0644));
    if (!out) {
        problem = "cannot create " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    const std::unique_ptr<zip_file_t, ZipFileCloser> in(zip_fopen_index(archive, entry.index, 0));
    if (!in) {
        problem = "cannot open entry \"" + entry.path + "\": " + zip_strerror(archive);
        return false;
    }
    std::vector<char> buffer(256 * 1024);
    zip_uint64_t written = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            problem = "entry \"" + entry.path + "\" is damaged: " + zip_file_strerror(in.get());
            return false;
        }
        if (got == 0) break;
        for (zip_int64_t done = 0; done < got;) {
            const ssize_t n = ::write(out.get().fd, buffer.data() + done,
                                      static_cast<std::size_t>(got - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                problem = "cannot write " + path.string() + ": " + std::strerror(errno);
                return false;
            }
            done += n;
        }
        written += static_cast<zip_uint64_t>(got);
    }
    if (entry.sizeKnown && written != entry.size) {
        problem = "entry \"" + entry.path + "\" is shorter than the archive says";
        return false;
    }
    if (::close(out.release().fd) != 0) {
        problem = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> SafeEntryPath(std::string_view name) {
    std::string normal(name);
    for (char& c : normal)
        if (c == '\\') c = '/';
    if (!normal.empty() && normal.front() == '/') return std::nullopt;
    if (normal.size() >= 2 && normal[1] == ':' &&
        ((normal[0] >= 'A' && normal[0] <= 'Z') || (normal[0] >= 'a' && normal[0] <= 'z')))
        return std::nullopt;
    std::string path;
    std::size_t start = 0;
    while (start <= normal.size()) {
        const auto slash = normal.find('/', start);
        const std::string part =
            normal.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") {
            if (!path.empty()) path += '/';
            path += part;
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return path;
}

ExtractResult ExtractPackage(const std::string& packagePath, const std::string& targetFolder) {
    ExtractResult result;
    int error = 0;
    const std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open(packagePath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        result.problem = packagePath + " is not a readable zip archive: " +
                         zip_error_strerror(&details);
        zip_error_fini(&details);
        return result;
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    std::vector<Entry> entries;
    for (zip_int64_t i = 0; i < count; ++i) {
        auto entry = CheckEntry(archive.get(), static_cast<zip_uint64_t>(i), result.problem);
        if (!entry) return result;
        if (!entry->path.empty()) entries.push_back(std::move(*entry));
    }
    if (!CheckLayout(entries, result.problem)) return result;
    for (const Entry& entry : entries) {
        if (!WriteEntry(archive.get(), entry, targetFolder, result.problem)) return result;
        if (!entry.directory) ++result.files;
    }
    result.ok = true;
    return result;
}

}  // namespace velquist::updater
