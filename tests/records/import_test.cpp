#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "records/keyword_import.h"
#include "records/sheet_keywords.h"
#include "records/text_decoding.h"
#include "records_test_support.h"
#include "workbook_test_support.h"

namespace velquist {
namespace {

using testing::FileText;
using testing::MakeXls;
using testing::MakeXlsx;
using testing::RecordingNotifier;
using testing::RunPython;
using testing::WriteFile;

using Rows = std::vector<std::vector<std::string>>;
using namespace std::string_literals;

std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

class KeywordImport : public testing::RecordsTest {
  protected:
    std::string file(const std::string& name, const std::string& bytes) {
        const std::string path = folder() + "/" + name;
        WriteFile(path, bytes);
        return path;
    }
    std::string path(const std::string& name) const { return folder() + "/" + name; }

    // The paid entries as (keyword, unit, plan) rows.
    static Rows Entries(const KeywordFile& read) {
        Rows rows;
        for (const auto& e : read.entries) rows.push_back({e.keyword, e.unit, e.plan});
        return rows;
    }
};

TEST_F(KeywordImport, TextFilesInEveryEncodingGiveOneTrimmedKeywordPerLine) {
    const std::string full = "\xE3\x80\x80";  // ideographic space
    struct Case {
        std::string name;
        std::string bytes;
        std::vector<std::string> keywords;
    } cases[] = {
        {"bom_crlf.txt",
         "\xEF\xBB\xBF \xE9\xB2\x9C\xE8\x8A\xB1 \r\n\t玫瑰\r\n\r\n",
         {"鲜花", "玫瑰"}},
        {"utf16le.txt",
         Utf16(u"鲜花\r\n玫瑰 rose\r\n😀 emoji", false),
         {"鲜花", "玫瑰 rose", "😀 emoji"}},
        {"utf16be.txt", Utf16(u"鲜花\r\n玫瑰\r\n", true), {"鲜花", "玫瑰"}},
        // 鲜花, 玫瑰, a two-byte euro sign and a four-byte character, without a mark.
        {"gb18030.csv",
         "\xCF\xCA\xBB\xA8\r\n\xC3\xB5\xB9\xE5 \xA2\xE3\r\n\x95\x32\x82\x36",
         {"鲜花", "玫瑰 €", "𠀀"}},
        {"bare_lf.txt", "one\ntwo\n\nthree", {"one", "two", "three"}},
        {"lone_cr.txt", "one\rtwo\r\n", {"one", "two"}},
        {"lines.csv", "a,b,c\r\n\"quoted, kept\"\r\n", {"a,b,c", "\"quoted, kept\""}},
        {"wide_spaces.txt", full + "词" + full + "\r\n\xC2\xA0nbsp\xC2\xA0\n", {"词", "nbsp"}},
        // Cut at 63 characters, never inside one, and trimmed again after the cut.
        {"long.txt",
         Repeat("长", 70) + "\n" + std::string(62, 'a') + "😀😀\n" + std::string(62, 'b') + " c",
         {Repeat("长", 63), std::string(62, 'a') + "😀", std::string(62, 'b')}},
    };
    for (const auto& c : cases) {
        const KeywordFile read = ReadKeywordFile(file(c.name, c.bytes), ImportKind::Natural);
        EXPECT_TRUE(read.ok()) << c.name << ": " << read.message << " " << read.reason;
        EXPECT_EQ(read.keywords, c.keywords) << c.name;
    }
}

TEST_F(KeywordImport, RefusedFilesShowTheirMessageAndAddNothing) {
    std::filesystem::create_directory(path("folder.txt"));
    struct Case {
        std::string name;
        std::string bytes;  // not written when empty and the name is a folder or missing
        std::string message;
        std::string reason;  // part of the reason
    } cases[] = {
        {"blank.txt", "\r\n   \r\n\t\n\xE3\x80\x80\n", kImportEmpty, "no keyword"},
        {"empty.csv", "", kImportEmpty, "no keyword"},
        {"nul.txt", "fine\r\nbro\0ken\r\n"s, kImportUnreadable, "line 2 holds a NUL byte"},
        {"utf16_no_mark.txt", "a\0b\0"s, kImportUnreadable, "NUL"},
        {"bad_utf8.txt", "\xEF\xBB\xBFok\r\n\xFF\xFE\xFD", kImportUnreadable, "not UTF-8"},
        {"odd_utf16.txt",
         "\xFF\xFE"
         "a\0b"s,
         kImportUnreadable, "middle of a character"},
        {"lone_surrogate.txt",
         Utf16(u"ok\r\n", false) + "\x3D\xD8"
                                   "a\0"s,
         kImportUnreadable, "broken UTF-16"},
        {"upper.TXT", "x", kImportBadExtension, ".txt, .csv"},
        {"mixed.Xlsx", "x", kImportBadExtension, ".txt, .csv"},
        {"keywords.txt.bak", "x", kImportBadExtension, ".txt, .csv"},
        {"no_extension", "x", kImportBadExtension, ".txt, .csv"},
        {"missing.txt", "", kImportUnreadable, "cannot be opened"},
        {"folder.txt", "", kImportUnreadable, "not a regular file"},
        {"text.xls", "关键词\r\n鲜花\r\n", kImportUnreadable, "neither an xlsx nor an xls"},
        {"text.xlsx", "关键词\r\n鲜花\r\n", kImportUnreadable, "neither an xlsx nor an xls"},
        {"fake_zip.xlsx", "PK\x03\x04 and no zip after", kImportUnreadable, "not a readable xlsx"},
    };
    for (const auto& c : cases) {
        std::string target = path(c.name);
        if (!c.bytes.empty() || c.name.starts_with("empty")) target = file(c.name, c.bytes);
        for (const ImportKind kind : {ImportKind::Natural, ImportKind::Paid}) {
            RecordingNotifier notifier;
            const ImportOutcome outcome = ImportKeywordFile(dbPath(), target, kind, notifier);
            EXPECT_FALSE(outcome.add.committed) << c.name;
            EXPECT_EQ(notifier.messages, std::vector<std::string>{c.message}) << c.name;
            EXPECT_EQ(notifier.captions, std::vector<std::string>{"提示"}) << c.name;
            EXPECT_NE(outcome.file.reason.find(c.reason), std::string::npos)
                << c.name << ": " << outcome.file.reason;
        }
    }
    EXPECT_EQ(count("seokeyword") + count("keyword") + count("plan") + count("unit"), 0);
}

TEST_F(KeywordImport, PaidTextImportFilesEveryKeywordUnderTheDefaultPlanAndUnit) {
    RecordingNotifier notifier;
    int committed = -1;
    const ImportOutcome outcome =
        ImportKeywordFile(dbPath(), file("paid.txt", "鲜花\r\n玫瑰\r\n鲜花\r\n"), ImportKind::Paid,
                          notifier, [&](int added) { committed = added; });
    EXPECT_TRUE(outcome.add.committed);
    EXPECT_EQ(outcome.keywordsRead, 3u);
    EXPECT_EQ(committed, 2);
    EXPECT_EQ(rows("SELECT keyword, unit, plan FROM keyword ORDER BY keywordId"),
              (Rows{{"鲜花", "默认", "默认"}, {"玫瑰", "默认", "默认"}}));
    EXPECT_EQ(rows("SELECT plan FROM plan"), Rows{{"默认"}});
    EXPECT_EQ(notifier.messages,
              std::vector<std::string>{"您添加的内容包含已有的或重复的项，其余项已添加完毕"});
}

TEST_F(KeywordImport, HugeTextFilesAreRefusedBeforeTheyTakeMemory) {
    // A sparse file: its size is past the limit without using the disk.
    const std::string big = path("huge.txt");
    WriteFile(big, "a\n");
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(kMaxTextFileBytes + 1)), 0);
    KeywordFile read = ReadKeywordFile(big, ImportKind::Natural);
    EXPECT_EQ(read.message, kImportUnreadable);
    EXPECT_NE(read.reason.find("larger than 64 MB"), std::string::npos) << read.reason;

    std::string lines;
    for (std::size_t i = 0; i <= kMaxImportKeywords; ++i) lines += "k" + std::to_string(i) + "\n";
    read = ReadKeywordFile(file("many.txt", lines), ImportKind::Natural);
    EXPECT_EQ(read.message, kImportUnreadable);
    EXPECT_NE(read.reason.find("more than 1000000 keywords"), std::string::npos) << read.reason;
    EXPECT_TRUE(read.keywords.empty());
}

TEST(ImportedNumbers, ShowAsASpreadsheetShowsThem) {
    const std::pair<double, const char*> cases[] = {
        {12345, "12345"}, {1.5, "1.5"}, {0.1 + 0.2, "0.3"}, {13800138000, "13800138000"},
        {1e20, "1E+20"},  {-0.0, "0"},  {-42, "-42"},
    };
    for (const auto& [value, shown] : cases) EXPECT_EQ(import_detail::NumberText(value), shown);
}

TEST_F(KeywordImport, XlsxHeadingsFromAToZNumbersAndTheEndOfTheData) {
    MakeXlsx(folder(), path("z.xlsx"), R"(
ws['Y1'] = '推广单元'
ws['Z1'] = ' 关键词 '
ws['A1'] = '推广计划'
ws['Z2'] = 12345
ws['Z3'] = 1.5
ws['Z4'] = 0.1 + 0.2
ws['Z5'] = 13800138000
ws['Z6'] = True
ws['Z7'] = '  文本  '
ws['A7'] = 'P'
ws['Y7'] = 'U'
ws['Z8'] = '   '
ws['Z9'] = 'after the gap'
)");
    KeywordFile read = ReadKeywordFile(path("z.xlsx"), ImportKind::Natural);
    ASSERT_TRUE(read.ok()) << read.reason;
    EXPECT_EQ(read.keywords,
              (std::vector<std::string>{"12345", "1.5", "0.3", "13800138000", "TRUE", "文本"}));
    read = ReadKeywordFile(path("z.xlsx"), ImportKind::Paid);
    ASSERT_TRUE(read.ok()) << read.reason;
    EXPECT_EQ(Entries(read).back(), (std::vector<std::string>{"文本", "U", "P"}));
    EXPECT_EQ(Entries(read).front(), (std::vector<std::string>{"12345", "默认", "默认"}));

    struct Refused {
        std::string name;
        std::string body;
        std::string message;
    } refused[] = {
        {"aa.xlsx", "ws['AA1'] = '关键词'\nws['AA2'] = 'x'", kImportBadWorkbook},
        {"second_row.xlsx", "ws['A2'] = '关键词'\nws['A3'] = 'x'", kImportBadWorkbook},
        {"empty_sheet.xlsx", "", kImportBadWorkbook},
        {"heading_only.xlsx", "ws['B1'] = '关键词'\nws['C2'] = 'beside'", kImportEmpty},
        // A heading merged downwards is a heading, not data.
        {"tall_heading.xlsx", "ws['A1'] = '关键词'\nws.merge_cells('A1:A3')\nws['A5'] = 'x'",
         kImportEmpty},
    };
    for (const auto& r : refused) {
        MakeXlsx(folder(), path(r.name), r.body);
        RecordingNotifier notifier;
        const auto outcome = ImportKeywordFile(dbPath(), path(r.name), ImportKind::Paid, notifier);
        EXPECT_EQ(notifier.messages, std::vector<std::string>{r.message}) << r.name;
    }
    EXPECT_EQ(count("keyword"), 0);
}

TEST_F(KeywordImport, MergedCellsCountInEveryRowTheyCover) {
    const std::string sheet = R"(
ws['A1'] = '推广计划'
ws['B1'] = '关键词'
ws['C1'] = '推广单元'
ws.merge_cells('C1:D1')
ws['A2'] = 'P1'
ws.merge_cells('A2:A4')
ws['B2'] = 'kw1'
ws['B3'] = 'kw2'
ws['B4'] = 'kw3'
ws['C2'] = 'U1'
ws.merge_cells('C2:C3')
ws['B5'] = 'kw4'
ws.merge_cells('B5:B7')
ws['B9'] = 'after the gap'
)";
    const Rows expected = {{"kw1", "U1", "P1"},     {"kw2", "U1", "P1"},
                           {"kw3", "默认", "P1"},   {"kw4", "默认", "默认"},
                           {"kw4", "默认", "默认"}, {"kw4", "默认", "默认"}};
    MakeXlsx(folder(), path("merged.xlsx"), sheet);
    // xlwt numbers rows and columns from 0: write_merge(first row, last row, first col, last col).
    MakeXls(folder(), path("merged.xls"), R"(
ws.write(0, 0, '推广计划')
ws.write(0, 1, '关键词')
ws.write_merge(0, 0, 2, 3, '推广单元')
ws.write_merge(1, 3, 0, 0, 'P1')
ws.write(1, 1, 'kw1')
ws.write(2, 1, 'kw2')
ws.write(3, 1, 'kw3')
ws.write_merge(1, 2, 2, 2, 'U1')
ws.write_merge(4, 6, 1, 1, 'kw4')
ws.write(8, 1, 'after the gap')
)");
    for (const std::string name : {"merged.xlsx", "merged.xls"}) {
        const KeywordFile read = ReadKeywordFile(path(name), ImportKind::Paid);
        ASSERT_TRUE(read.ok()) << name << ": " << read.reason;
        EXPECT_EQ(Entries(read), expected) << name;
    }
    RecordingNotifier notifier;
    const auto outcome =
        ImportKeywordFile(dbPath(), path("merged.xls"), ImportKind::Paid, notifier);
    EXPECT_EQ(outcome.add.added, 4);
    EXPECT_EQ(outcome.add.skipped, 2);
    EXPECT_EQ(rows("SELECT plan, unit FROM unit JOIN plan USING (planid) ORDER BY unitid"),
              (Rows{{"P1", "U1"}, {"P1", "默认"}, {"默认", "默认"}}));
}

TEST_F(KeywordImport, XlsNumbersDatesAndTheFirstSheetOnly) {
    MakeXls(folder(), path("numbers.xls"), R"(
import datetime
style = xlwt.easyxf(num_format_str='YYYY-MM-DD')
ws.write(0, 25, '关键词')
ws.write(1, 25, 12345)
ws.write(2, 25, 1.5)
ws.write(3, 25, datetime.date(2024, 1, 5), style)
ws.write(4, 25, ' 文本 ')
other = wb.add_sheet('S2')
other.write(0, 0, '关键词')
other.write(1, 0, 'not this sheet')
)");
    const KeywordFile read = ReadKeywordFile(path("numbers.xls"), ImportKind::Natural);
    ASSERT_TRUE(read.ok()) << read.reason;
    EXPECT_EQ(read.keywords, (std::vector<std::string>{"12345", "1.5", "2024-01-05", "文本"}));
}

// What Excel itself writes: relative part names, prefixed element names, shared strings with
// rich text and reading aids, cells without references, a missing row inside a merged area.
TEST_F(KeywordImport, HandWrittenXlsxLikeExcelsOwn) {
    RunPython(folder(), R"(
import sys, zipfile
ns = 'xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="' + rel + 'officeDocument" Target="xl/book.xml"/></Relationships>')
z.writestr('xl/_rels/book.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="c" Type="' + rel + 'chartsheet" Target="charts/c.xml"/><Relationship Id="w" Type="' + rel + 'worksheet" Target="./sheets/../sheets/data.xml"/><Relationship Id="s" Type="' + rel + 'sharedStrings" Target="strings.xml"/><Relationship Id="h" Type="' + rel + 'hyperlink" Target="http://example.com" TargetMode="External"/></Relationships>')
z.writestr('xl/book.xml', '<?xml version="1.0" encoding="UTF-8"?><x:workbook ' + ns + '><x:sheets><x:sheet name="Chart" sheetId="2" r:id="c"/><x:sheet name="Data" sheetId="1" r:id="w"/></x:sheets></x:workbook>')
z.writestr('xl/strings.xml', '<x:sst ' + ns + '><x:si><x:t>关键词</x:t></x:si><x:si><x:r><x:t>红</x:t></x:r><x:r><x:rPr/><x:t xml:space="preserve">玫瑰 </x:t></x:r><x:rPh><x:t>ほうもん</x:t></x:rPh></x:si><x:si><x:t>A&amp;B &lt;tag&gt; &#x1F600;</x:t></x:si><x:si><x:t>合并</x:t></x:si></x:sst>')
z.writestr('xl/sheets/data.xml', '<x:worksheet ' + ns + '><x:dimension ref="A1:B6"/><x:sheetData>'
  '<x:row r="1"><x:c t="s"><x:v>0</x:v></x:c></x:row>'
  '<x:row r="2"><x:c r="A2" t="s"><x:v>1</x:v></x:c></x:row>'
  '<x:row r="3"><x:c r="A3" t="s"><x:v>2</x:v></x:c></x:row>'
  '<x:row><x:c r="A4"><x:f>SUM(1,2)</x:f><x:v>3</x:v></x:c></x:row>'
  '<x:row r="5"><x:c r="A5" t="str"><x:f>"x"</x:f><x:v>formula text</x:v></x:c></x:row>'
  '<x:row r="6"><x:c r="A6" t="s"><x:v>3</x:v></x:c></x:row>'
  '<x:row r="8"><x:c r="B8" t="inlineStr"><x:is><x:t>beside</x:t></x:is></x:c></x:row>'
  '</x:sheetData><x:mergeCells count="1"><x:mergeCell ref="A6:A8"/></x:mergeCells></x:worksheet>')
z.close()
)",
              {path("excel.xlsx")});
    const KeywordFile read = ReadKeywordFile(path("excel.xlsx"), ImportKind::Natural);
    ASSERT_TRUE(read.ok()) << read.reason;
    EXPECT_EQ(read.keywords, (std::vector<std::string>{"红玫瑰", "A&B <tag> 😀", "3", "formula text",
                                                       "合并", "合并", "合并"}));
}

TEST_F(KeywordImport, DamagedWorkbooksAreRefusedAsUnreadable) {
    MakeXlsx(folder(), path("good.xlsx"), "ws['A1'] = '关键词'\nws['A2'] = 'x'");
    const std::string good = FileText(path("good.xlsx"));
    WriteFile(path("truncated.xlsx"), good.substr(0, good.size() / 2));
    WriteFile(path("cut_short.xlsx"), good.substr(0, good.size() - 10));
    // The sheet claims little and unpacks to 300 MB of blanks.
    RunPython(folder(), R"(
import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
out = zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED, compresslevel=1)
for item in src.infolist():
    data = src.read(item.filename)
    if item.filename.endswith('sheet1.xml'):
        data = data.replace(b'<sheetData>', b'<sheetData>' + b' ' * (300 << 20))
    out.writestr(item.filename, data)
out.close()
)",
              {path("good.xlsx"), path("bomb.xlsx")});
    // A character reference to NUL, which no keyword may hold.
    RunPython(folder(), R"(
import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
out = zipfile.ZipFile(sys.argv[2], 'w')
for item in src.infolist():
    data = src.read(item.filename)
    if item.filename.endswith('sheet1.xml'):
        data = data.replace(b'<t>x</t>', b'<t>x&#0;y</t>')
    out.writestr(item.filename, data)
out.close()
)",
              {path("good.xlsx"), path("nul_cell.xlsx")});
    MakeXls(folder(), path("good.xls"), "ws.write(0, 0, '关键词')\nws.write(1, 0, 'x')");
    const std::string xls = FileText(path("good.xls"));
    WriteFile(path("truncated.xls"), xls.substr(0, xls.size() / 2));

    const std::pair<const char*, const char*> cases[] = {
        {"truncated.xlsx", "not a readable xlsx"},
        {"cut_short.xlsx", "not a readable xlsx"},
        {"bomb.xlsx", "unpacks to more than 256 MB"},
        {"nul_cell.xlsx", "row 2 holds text that cannot be stored"},
        {"truncated.xls", "damaged"},
    };
    for (const auto& [name, reason] : cases) {
        const KeywordFile read = ReadKeywordFile(path(name), ImportKind::Natural);
        EXPECT_EQ(read.message, kImportUnreadable) << name;
        EXPECT_NE(read.reason.find(reason), std::string::npos) << name << ": " << read.reason;
        EXPECT_TRUE(read.keywords.empty()) << name;
    }
    // A workbook saved under the other extension is still read.
    std::filesystem::copy_file(path("good.xlsx"), path("really_xlsx.xls"));
    std::filesystem::copy_file(path("good.xls"), path("really_xls.xlsx"));
    for (const std::string name : {"really_xlsx.xls", "really_xls.xlsx"})
        EXPECT_EQ(ReadKeywordFile(path(name), ImportKind::Natural).keywords,
                  std::vector<std::string>{"x"})
            << name;
}

TEST_F(KeywordImport, HundredThousandRowsOfXlsxAndSixtyThousandOfXls) {
    MakeXlsx(folder(), path("big.xlsx"), R"(
ws['B1'] = '关键词'
for i in range(100000):
    ws.cell(row=i + 2, column=2, value='关键词%d' % i)
)");
    // Enough rows that the merged areas sit in large sectors of the file.
    MakeXls(folder(), path("big.xls"), R"(
ws.write(0, 0, '关键词')
for i in range(60000):
    ws.write(i + 1, 0, 'kw%d' % i)
ws.write_merge(60001, 60003, 0, 0, 'merged at the end')
)");
    const auto start = std::chrono::steady_clock::now();
    RecordingNotifier notifier;
    const auto outcome =
        ImportKeywordFile(dbPath(), path("big.xlsx"), ImportKind::Natural, notifier);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(outcome.add.added, 100000);
    EXPECT_LT(seconds, 30.0);
    EXPECT_EQ(rows("SELECT keyword FROM seokeyword WHERE keywordId IN (1, 100000)"),
              (Rows{{"关键词0"}, {"关键词99999"}}));

    const KeywordFile read = ReadKeywordFile(path("big.xls"), ImportKind::Natural);
    ASSERT_TRUE(read.ok()) << read.reason;
    ASSERT_EQ(read.keywords.size(), 60003u);
    EXPECT_EQ(read.keywords[59999], "kw59999");
    EXPECT_EQ(read.keywords.back(), "merged at the end");
}

}  // namespace
}  // namespace velquist
