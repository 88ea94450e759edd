// Helpers shared by the tests.
#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mk::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "mktest-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission first so read-only test files can go.
    for (auto &entry : std::filesystem::recursive_directory_iterator(path_, ec))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return (path_ / name).string(); }

Bytes ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::filesystem::path &path, const std::string &data) {
    WriteFile(path, Bytes(data.begin(), data.end()));
}

std::string MakeList(const std::vector<std::string> &paths) {
    std::string list;
    for (const auto &p : paths) list.append(p).push_back('\0');
    list.push_back('\0');
    return list;
}

std::filesystem::path CorpusDir() { return MK_CORPUS_DIR; }

std::vector<CorpusRow> CorpusIndex() {
    std::ifstream in(CorpusDir() / "INDEX.tsv");
    if (!in) {
        ADD_FAILURE() << "cannot read the corpus index in " << CorpusDir();
        return {};
    }
    auto split = [](const std::string &line) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t')) cells.push_back(cell);
        if (!line.empty() && line.back() == '\t') cells.emplace_back();
        return cells;
    };
    std::string line;
    std::getline(in, line);
    const auto header = split(line);
    std::vector<CorpusRow> rows;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        auto cells = split(line);
        CorpusRow row;
        for (size_t i = 0; i < header.size(); ++i)
            row[header[i]] = i < cells.size() ? cells[i] : "";
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace mk::test
