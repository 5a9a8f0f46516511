#pragma once

// Real workbooks for the import and export tests, written and read back by Python's openpyxl and
// xlwt: readers and writers of their own, independent of the code under test.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velquist::testing {

// Debian's interpreter, where python3-openpyxl and python3-xlwt live.
inline constexpr const char* kPython = "/usr/bin/python3";

inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs `code` with the arguments; returns its standard output. A failing script fails the test.
inline std::string RunPython(const std::string& folder, const std::string& code,
                             const std::vector<std::string>& args) {
    const std::string script = folder + "/script.py";
    const std::string output = folder + "/script.out";
    const std::string errors = folder + "/script.err";
    WriteFile(script, code);
    std::vector<std::string> full = {kPython, script};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "python failed:\n"
                                                               << FileText(errors) << "\nscript:\n"
                                                               << code;
    return FileText(output);
}

// Saves an .xlsx made by `body`, Python code working on `wb` and its first sheet `ws`.
inline void MakeXlsx(const std::string& folder, const std::string& path, const std::string& body) {
    RunPython(folder,
              "import sys, openpyxl\nwb = openpyxl.Workbook()\nws = wb.active\n" + body +
                  "\nwb.save(sys.argv[1])\n",
              {path});
}

// Saves an .xls made by `body`, Python code working on `wb` and its first sheet `ws`.
inline void MakeXls(const std::string& folder, const std::string& path, const std::string& body) {
    RunPython(folder,
              "import sys, xlwt\nwb = xlwt.Workbook(encoding='utf-8')\nws = wb.add_sheet('S1')\n" +
                  body + "\nwb.save(sys.argv[1])\n",
              {path});
}

// A workbook as openpyxl reads one of its sheets.
struct ReadBack {
    std::vector<std::string> sheets;  // the names of all sheets, in order
    std::string lastHeadingCell;      // e.g. "AA1"
    std::vector<std::vector<std::string>> rows;
};

// Every cell of a sheet (the first one unless told), "" for an empty cell, and "<int>12" for a
// cell that is not text.
inline ReadBack ReadXlsx(const std::string& folder, const std::string& path, int sheet = 0) {
    const std::string text = RunPython(folder, R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
ws = wb.worksheets[int(sys.argv[2])]
rows = list(ws.iter_rows(values_only=True))
def shown(v):
    if v is None: return ''
    if isinstance(v, str): return v
    return '<%s>%s' % (type(v).__name__, v)
last = openpyxl.utils.get_column_letter(len(rows[0])) + '1' if rows else ''
sys.stdout.write('\t'.join(wb.sheetnames) + '\n')
sys.stdout.write(last + '\n')
for r in rows:
    sys.stdout.write('\t'.join(shown(v) for v in r) + '\n')
)",
                                       {path, std::to_string(sheet)});
    ReadBack back;
    std::istringstream lines(text);
    std::string names;
    std::getline(lines, names);
    for (std::size_t start = 0; !names.empty();) {
        const auto tab = names.find('\t', start);
        back.sheets.push_back(names.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    std::getline(lines, back.lastHeadingCell);
    for (std::string line; std::getline(lines, line);) {
        auto& row = back.rows.emplace_back();
        std::size_t start = 0;
        for (;;) {
            const auto tab = line.find('\t', start);
            row.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
    }
    return back;
}

}  // namespace velquist::testing
