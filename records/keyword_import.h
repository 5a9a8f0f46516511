#pragma once

// Keyword import from .txt, .csv, .xls and .xlsx files. Reading needs no database and shows
// nothing, so a page can run it on a worker thread and hand the result to the add operation.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/user_notifier.h"
#include "records/paid_records.h"
#include "records/record_types.h"

namespace velquist {

enum class ImportKind { Paid = 0, Natural = 1 };

inline constexpr const char* kImportBadExtension = "文件扩展名不正确";
inline constexpr const char* kImportUnreadable = "无法导入的文档";
inline constexpr const char* kImportEmpty = "该文档无内容";
inline constexpr const char* kImportBadWorkbook = "导入的Excel不符合规则，请查看“导入说明”！";

// Headings the first row of a workbook must hold (A1 to Z1).
inline constexpr const char* kKeywordHeading = "关键词";
inline constexpr const char* kPlanHeading = "推广计划";
inline constexpr const char* kUnitHeading = "推广单元";

// Limits that keep a huge or hostile file from taking the machine's memory: a text file is read
// whole, a workbook part is unpacked whole, and every keyword is held until the one add.
inline constexpr std::uintmax_t kMaxTextFileBytes = 64u << 20;
inline constexpr std::uintmax_t kMaxWorkbookPartBytes = 256u << 20;
inline constexpr std::size_t kMaxImportKeywords = 1'000'000;

// True for the extensions the import takes: "txt", "csv", "xls", "xlsx", in lower case.
bool HasImportableExtension(const std::string& path);

// What a keyword file holds. On success exactly one list is filled: `keywords` for natural
// imports, `entries` for paid ones (plan and unit "默认" where the file gives none). Every text
// is trimmed and at most 63 characters; blank keywords are left out.
struct KeywordFile {
    std::string message;  // empty when read; else the system's text to show
    std::string reason;   // with a message: what was wrong, in plain words, for logs and scripts
    std::vector<std::string> keywords;
    std::vector<PaidKeywordEntry> entries;

    bool ok() const { return message.empty(); }
    std::size_t size() const { return keywords.size() + entries.size(); }
};

KeywordFile ReadKeywordFile(const std::string& path, ImportKind kind);

struct ImportOutcome {
    KeywordFile file;  // the lists are emptied once handed to the add
    std::size_t keywordsRead = 0;
    AddOutcome add;  // committed only when the file was read and the add succeeded
};

// Reads the file and adds its keywords in one transaction with the records' add operation. A
// refused file shows its message and adds nothing; otherwise the add shows its own messages and
// calls `onCommitted(added)` after the commit.
ImportOutcome ImportKeywordFile(const std::string& dbPath, const std::string& path, ImportKind kind,
                                UserNotifier& notifier,
                                std::function<void(int added)> onCommitted = {});

}  // namespace velquist
