#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace rp::test {

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

// Runs a shell command and returns its exit status; standard output is appended to `output`.
int runCommand(const std::string& command, std::string* output = nullptr);

// True when an executable of that name is on PATH.
bool haveTool(const std::string& name);

} // namespace rp::test
