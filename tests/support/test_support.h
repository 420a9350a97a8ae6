#pragma once
// Helpers shared by every test program: the corpus, private temporary folders.
#include <QString>
#include <QTemporaryDir>
#include <filesystem>
#include <string>

namespace lf::test {

// The folder of real office files that other programs made (pptx/, docx/, bad/).
std::filesystem::path corpusDir();
// Every file of one corpus subfolder, sorted by name.
std::vector<std::filesystem::path> corpusFiles(const std::string& subfolder);

// A fresh folder that is removed when the object dies.
class TempDir {
public:
    TempDir();
    std::filesystem::path path() const { return std::filesystem::path(dir_.path().toStdString()); }
    QString qpath() const { return dir_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }

private:
    QTemporaryDir dir_;
};

std::string readFile(const std::filesystem::path& file);
// The names of a folder's entries, sorted.
std::vector<std::string> folderNames(const std::filesystem::path& folder);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

} // namespace lf::test
