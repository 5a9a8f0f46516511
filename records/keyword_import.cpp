#include "records/keyword_import.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "records/natural_records.h"
#include "records/sheet_keywords.h"
#include "records/text_decoding.h"
#include "records/xls_reader.h"
#include "records/xlsx_reader.h"

namespace velquist {

namespace {

std::string_view Extension(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

void Refuse(KeywordFile& file, const char* message, std::string reason) {
    file.message = message;
    file.reason = std::move(reason);
    file.keywords.clear();
    file.entries.clear();
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

// Reads at most `limit` bytes; false (with `reason`) when the file cannot be read or is longer.
bool ReadFilePrefix(const std::string& path, std::uintmax_t limit, std::string& bytes,
                    std::string& reason, bool& tooLong) {
    tooLong = false;
    const FdCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        reason = fmt::format("it cannot be opened: {}", std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = "it is not a regular file";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(
        std::min<std::uintmax_t>(static_cast<std::uintmax_t>(info.st_size), limit) + 1));
    std::size_t total = 0;
    while (total < bytes.size()) {
        const ssize_t n = read(file.fd, bytes.data() + total, bytes.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = fmt::format("it cannot be read: {}", std::strerror(errno));
            return false;
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    if (total > limit) {
        tooLong = true;
        return false;
    }
    bytes.resize(total);
    return true;
}

void ReadTextKeywords(const std::string& path, ImportKind kind, KeywordFile& file) {
    std::string bytes;
    std::string reason;
    bool tooLong = false;
    if (!ReadFilePrefix(path, kMaxTextFileBytes, bytes, reason, tooLong)) {
        if (tooLong) reason = fmt::format("it is larger than {} MB", kMaxTextFileBytes >> 20);
        return Refuse(file, kImportUnreadable, reason);
    }
    DecodedText decoded = DecodeTextFile(std::move(bytes));
    if (!decoded.reason.empty()) return Refuse(file, kImportUnreadable, decoded.reason);
    const std::string_view text = decoded.utf8;
    // A NUL byte means a binary file, or UTF-16 without its mark: nothing in it is a keyword.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        const auto line = std::count(text.begin(), text.begin() + nul, '\n') + 1;
        return Refuse(file, kImportUnreadable, fmt::format("line {} holds a NUL byte", line));
    }
    // Lines end in "\r\n", "\n" or a lone "\r"; a CSV line is one keyword, commas and all.
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto end = text.find_first_of("\r\n", pos);
        std::string keyword = ImportedText(text.substr(pos, end - pos));
        if (!keyword.empty()) {
            if (file.size() == kMaxImportKeywords)
                return Refuse(file, kImportUnreadable,
                              fmt::format("it holds more than {} keywords", kMaxImportKeywords));
            if (kind == ImportKind::Natural)
                file.keywords.push_back(std::move(keyword));
            else
                file.entries.push_back({std::move(keyword), kDefaultTreeName, kDefaultTreeName});
        }
        if (end == std::string_view::npos) break;
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    if (file.size() == 0) Refuse(file, kImportEmpty, "it holds no keyword");
}

void ReadWorkbookKeywords(const std::string& path, ImportKind kind, KeywordFile& file) {
    std::string head;
    std::string reason;
    bool tooLong = false;
    // The content decides the reader: a workbook saved under the other extension still opens.
    constexpr std::uintmax_t kSignatureBytes = 8;
    if (!ReadFilePrefix(path, kSignatureBytes, head, reason, tooLong) && !tooLong)
        return Refuse(file, kImportUnreadable, reason);
    head.resize(std::min<std::size_t>(head.size(), kSignatureBytes));
    import_detail::SheetKeywordCollector sheet(kind, file);
    if (head.starts_with("PK\x03\x04"))
        reason = import_detail::ReadXlsxSheet(path, sheet);
    else if (head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        reason = import_detail::ReadXlsSheet(path, sheet);
    else
        reason = "it is neither an xlsx nor an xls workbook";
    if (!reason.empty()) return Refuse(file, kImportUnreadable, reason);
    if (!file.ok()) {
        file.keywords.clear();
        file.entries.clear();
        return;
    }
    sheet.finish();
}

}  // namespace

bool HasImportableExtension(const std::string& path) {
    const std::string_view extension = Extension(path);
    return extension == "txt" || extension == "csv" || extension == "xls" || extension == "xlsx";
}

KeywordFile ReadKeywordFile(const std::string& path, ImportKind kind) {
    KeywordFile file;
    if (!HasImportableExtension(path)) {
        Refuse(file, kImportBadExtension,
               "the file name does not end in .txt, .csv, .xls or .xlsx");
        return file;
    }
    const std::string_view extension = Extension(path);
    if (extension == "txt" || extension == "csv")
        ReadTextKeywords(path, kind, file);
    else
        ReadWorkbookKeywords(path, kind, file);
    return file;
}

ImportOutcome ImportKeywordFile(const std::string& dbPath, const std::string& path, ImportKind kind,
                                UserNotifier& notifier,
                                std::function<void(int added)> onCommitted) {
    ImportOutcome outcome;
    outcome.file = ReadKeywordFile(path, kind);
    if (!outcome.file.ok()) {
        notifier.showMessage(outcome.file.message);
        return outcome;
    }
    outcome.keywordsRead = outcome.file.size();
    if (kind == ImportKind::Natural)
        outcome.add = addNaturalKeywords(dbPath, outcome.file.keywords, notifier, onCommitted);
    else
        outcome.add = addPaidKeywords(dbPath, outcome.file.entries, notifier, onCommitted);
    outcome.file.keywords = {};
    outcome.file.entries = {};
    return outcome;
}

}  // namespace velquist
