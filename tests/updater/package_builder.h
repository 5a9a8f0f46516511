#pragma once

#include <sys/stat.h>
#include <zip.h>

#include <deque>
#include <fstream>
#include <sstream>
#include <string>

namespace velquist::testing {

// Makes a zip package entry by entry with libzip, including entries no careful packer would
// write: absolute names, "..", links. Stored uncompressed, so a test can find and spoil the
// bytes of an entry in the file.
class PackageBuilder {
  public:
    PackageBuilder& file(const std::string& name, const std::string& content,
                         unsigned mode = 0644) {
        m_entries.push_back({name, content, S_IFREG | mode, false});
        return *this;
    }
    PackageBuilder& folder(const std::string& name) {
        m_entries.push_back({name, "", S_IFDIR | 0755, true});
        return *this;
    }
    PackageBuilder& link(const std::string& name, const std::string& target) {
        m_entries.push_back({name, target, S_IFLNK | 0777, false});
        return *this;
    }

    // False when libzip would not write it.
    bool write(const std::string& path) const {
        int error = 0;
        zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!archive) return false;
        for (const Entry& entry : m_entries) {
            zip_int64_t index = -1;
            if (entry.directory) {
                index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
            } else {
                zip_source_t* source =
                    zip_source_buffer(archive, entry.content.data(), entry.content.size(), 0);
                index = source ? zip_file_add(archive, entry.name.c_str(), source,
                                              ZIP_FL_ENC_UTF_8)
                               : -1;
                if (index < 0 && source) zip_source_free(source);
                if (index >= 0)
                    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                             ZIP_CM_STORE, 0);
            }
            if (index < 0 || zip_file_set_external_attributes(
                                 archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                 static_cast<zip_uint32_t>(entry.mode) << 16) != 0) {
                zip_discard(archive);
                return false;
            }
        }
        return zip_close(archive) == 0;
    }

  private:
    struct Entry {
        std::string name;
        std::string content;
        unsigned mode;
        bool directory;
    };
    std::deque<Entry> m_entries;  // the buffers stay put until zip_close
};

// Replaces the first occurrence of `from` in the file with `to` (same length).
inline bool SpoilBytes(const std::string& path, const std::string& from, const std::string& to) {
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        bytes = text.str();
    }
    const auto at = bytes.find(from);
    if (at == std::string::npos || from.size() != to.size()) return false;
    bytes.replace(at, from.size(), to);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return true;
}

}  // namespace velquist::testing
