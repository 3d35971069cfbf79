#pragma once

#include <string>

// A fresh directory under the system temporary directory, removed with everything in it when
// the object goes out of scope.
class TestDir {
public:
    TestDir();
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a name inside the directory.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole contents of a file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes bytes to a file, replacing it; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// Directory of the hand-written fixtures (tests/data).
std::string TestDataDir();
