// Helpers shared by the tests: temporary folders, whole-file I/O and the
// table of the shared corpus of camera pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mk::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // path() / name as a string.
    std::string file(const std::string &name) const;

  private:
    std::filesystem::path path_;
};

Bytes ReadFile(const std::filesystem::path &path);
void WriteFile(const std::filesystem::path &path, const Bytes &data);
void WriteFile(const std::filesystem::path &path, const std::string &data);

// A PathList of the paths: each NUL-terminated, ended by an empty string.
std::string MakeList(const std::vector<std::string> &paths);

// The corpus folder beside the checkout (shared/corpus).
std::filesystem::path CorpusDir();

// One row of the corpus's INDEX.tsv: column name -> cell.
using CorpusRow = std::map<std::string, std::string>;
// Every row of INDEX.tsv, in file order. Fails the calling test (and returns
// nothing) when the index cannot be read.
std::vector<CorpusRow> CorpusIndex();

}  // namespace mk::test
