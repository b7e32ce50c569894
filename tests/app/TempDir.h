// A fresh directory per test, removed afterwards.
#pragma once

#include "../TempDir.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace quillmark::testing {

// The shared temporary directory with the string paths and file helpers these tests use.
class TempDir : public test::TempDir {
public:
    std::string Path() const { return test::TempDir::Path().string(); }
    // A path below the directory, written with "/" and given with the platform's delimiter.
    std::string operator/(const std::string& rel) const { return (test::TempDir::Path() / rel).make_preferred().string(); }

    static void Write(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

} // namespace quillmark::testing
