#include "updater/tree_copy.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "services/update_package.h"

namespace velquist::updater {

namespace {

namespace fs = std::filesystem;

bool EndsWithDb(const std::string& name) {
    if (name.size() < 3) return false;
    std::string end = name.substr(name.size() - 3);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return end == ".db";
}

// A rename, or, across file systems, a copy that lands under a temporary name first.
bool MoveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) return false;
    fs::path part = to;
    part += ".part";
    fs::remove(part, ec);
    if (!fs::copy_file(from, part, ec)) return false;
    fs::rename(part, to, ec);
    if (ec) {
        fs::remove(part, ec);
        return false;
    }
    fs::remove(from, ec);
    return true;
}

void PutInPlace(const fs::path& from, const fs::path& to, const std::string& cleanupMarker,
                CopyReport& report) {
    std::error_code ec;
    fs::remove(to, ec);
    if (ec) {
        // Still in use (or a folder with things in it): set it aside to be deleted on the next
        // start.
        fs::path aside = to;
        aside += kLeftoverSuffix;
        std::error_code ignored;
        fs::remove_all(aside, ignored);
        fs::rename(to, aside, ec);
        if (!ec) {
            ++report.keptAside;
            std::ofstream marker(cleanupMarker, std::ios::binary | std::ios::app);
        }
    }
    if (MoveFile(from, to)) {
        ++report.moved;
    } else {
        report.failed.push_back(to.string());
    }
}

}  // namespace

void CopyTree(const std::string& source, const std::string& target,
              const std::string& cleanupMarker, CopyReport& report) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    // An empty file copied as a folder has nothing to list.
    if (ec) return;
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name == "Thumbs.db") continue;
        const fs::path to = fs::path(target) / name;
        std::error_code statError;
        const bool folder = entry.is_directory(statError) ||
                            (entry.is_regular_file(statError) && entry.file_size(statError) == 0);
        if (folder) {
            std::error_code ignored;
            fs::create_directory(to, ignored);
            CopyTree(entry.path().string(), to.string(), cleanupMarker, report);
        } else if (EndsWithDb(name)) {
            report.skipped.push_back(to.string());
        } else {
            PutInPlace(entry.path(), to, cleanupMarker, report);
        }
    }
}

int RemoveLeftovers(const std::string& programFolder) {
    int removed = 0;
    std::error_code ec;
    std::vector<fs::path> leftovers;
    for (fs::recursive_directory_iterator it(programFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().find(kLeftoverSuffix) == std::string::npos) continue;
        leftovers.push_back(it->path());
        it.disable_recursion_pending();
    }
    for (const fs::path& path : leftovers) {
        std::error_code removeError;
        if (fs::remove_all(path, removeError) > 0 && !removeError) ++removed;
    }
    return removed;
}

bool EmptyFolder(const std::string& folder) {
    std::error_code ec;
    bool emptied = true;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    for (const fs::path& path : entries) {
        std::error_code removeError;
        fs::remove_all(path, removeError);
        emptied = emptied && !removeError;
    }
    return emptied && !ec;
}

}  // namespace velquist::updater
