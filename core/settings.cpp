#include "core/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include "core/text.h"

namespace velquist {

namespace pt = boost::property_tree;

namespace {

constexpr const char* kSection = "RankSettings";
// The page count was read through a 12-character buffer, so at most 11 characters count.
constexpr std::size_t kPageNumChars = 11;

std::string FoldCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// Keeps only the lines the INI parser accepts (sections, key=value, comments), and only the
// first occurrence of a section or key, whatever its case, as the profile functions see them.
// Everything else in a damaged file (binary bytes, stray text, repeats) is passed over instead of
// failing the read.
std::string SanitiseIni(const std::string& raw) {
    std::istringstream in(raw);
    std::ostringstream out;
    std::set<std::string> sections;
    std::set<std::string> keys;
    bool inSection = false;
    bool skipping = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = TrimWhitespace(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        if (trimmed.find('\0') != std::string::npos) continue;
        if (trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            if (close == std::string::npos) continue;
            const std::string name = TrimWhitespace(trimmed.substr(1, close - 1));
            if (name.empty() || name.find('.') != std::string::npos) {
                skipping = true;
                continue;
            }
            skipping = !sections.insert(FoldCase(name)).second;
            if (!skipping) {
                out << '[' << name << "]\n";
                keys.clear();
                inSection = true;
            }
            continue;
        }
        if (skipping || !inSection) continue;
        const auto eq = trimmed.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = TrimWhitespace(trimmed.substr(0, eq));
        const std::string value = TrimWhitespace(trimmed.substr(eq + 1));
        if (key.empty() || key.find('.') != std::string::npos || !keys.insert(FoldCase(key)).second)
            continue;
        out << key << '=' << value << '\n';
    }
    return out.str();
}

pt::ptree LoadTree(const std::string& path) {
    pt::ptree tree;
    std::ifstream file(path, std::ios::binary);
    if (!file) return tree;
    // Read one byte past the limit to tell a full-size file from a larger one without reading a
    // huge file whole.
    std::string raw(RankSettings::kMaxFileBytes + 1, '\0');
    file.read(raw.data(), static_cast<std::streamsize>(raw.size()));
    raw.resize(static_cast<std::size_t>(file.gcount()));
    if (raw.size() > RankSettings::kMaxFileBytes) return tree;
    std::istringstream clean(SanitiseIni(raw));
    try {
        pt::read_ini(clean, tree);
    } catch (const pt::ptree_error&) {
        tree.clear();
    }
    return tree;
}

// The child whose name matches `name` without regard to ASCII case.
template <typename Tree>
auto FindChild(Tree& tree, const std::string& name) -> decltype(&tree.begin()->second) {
    const std::string folded = FoldCase(name);
    for (auto& child : tree)
        if (FoldCase(child.first) == folded) return &child.second;
    return nullptr;
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces `path` with `content` through a uniquely named temporary file in the same folder and
// a rename, so readers and a kill at any moment see either the old file or the new one, never a
// truncated one.
bool ReplaceFile(const std::string& path, const std::string& content) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string target = path;
    // A link stays a link: the file it names is the one replaced.
    if (fs::is_symlink(path, ec)) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (ec) return false;
        target = resolved.string();
    }
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself survive a power cut.
    const fs::path folder = fs::path(target).parent_path();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

std::string RankSettings::readValue(const std::string& key, const std::string& fallback) const {
    const pt::ptree tree = LoadTree(m_path);
    const pt::ptree* section = FindChild(tree, kSection);
    if (!section) return fallback;
    const pt::ptree* value = FindChild(*section, key);
    return value ? value->data() : fallback;
}

bool RankSettings::writeValue(const std::string& key, const std::string& value) const {
    pt::ptree tree = LoadTree(m_path);
    // An existing section or key keeps the spelling it has in the file.
    pt::ptree* section = FindChild(tree, kSection);
    if (!section) section = &tree.push_back({kSection, pt::ptree()})->second;
    pt::ptree* entry = FindChild(*section, key);
    if (!entry) entry = &section->push_back({key, pt::ptree()})->second;
    entry->data() = value;
    std::ostringstream content;
    try {
        pt::write_ini(content, tree);
    } catch (const pt::ptree_error&) {
        return false;
    }
    return ReplaceFile(m_path, content.str());
}

int RankSettings::readPageCount(int currentPageCount) const {
    const std::string stored = readValue("PageNum", "5");
    const int value = DecimalToInt(std::string_view(stored).substr(0, kPageNumChars));
    if (value >= 1 && value <= 10) return value;
    // The repair is best effort: the count in use is right whether or not it could be stored.
    (void)writePageCount(currentPageCount);
    return currentPageCount;
}

bool RankSettings::writePageCount(int pageCount) const {
    return writeValue("PageNum", std::to_string(pageCount));
}

std::string RankSettings::readClientId() const { return readValue("Time", ""); }

RankSettings::WrittenClientId RankSettings::writeClientId() const {
    const auto seconds = static_cast<std::int32_t>(std::time(nullptr));
    WrittenClientId written;
    written.id = "time_" + std::to_string(seconds);
    written.stored = writeValue("Time", written.id);
    return written;
}

}  // namespace velquist
