#pragma once

#include <string>

namespace quillon::test {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    static void writeFile(const std::string& path, const std::string& bytes);
    static std::string readFile(const std::string& path);

private:
    std::string path_;
};

} // namespace quillon::test
