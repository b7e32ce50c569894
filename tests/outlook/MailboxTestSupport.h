// Temporary mail stores for the mailbox tests, written from strings.
#pragma once

#include "outlook/ObjectModel.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quillmark::testing {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("quillmark-mailbox-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes a file (creating its directories) and returns its path.
    std::filesystem::path Write(const std::string& rel, const std::string& data) const {
        auto p = path_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out << data;
        return p;
    }
    void MakeDir(const std::string& rel) const { std::filesystem::create_directories(path_ / rel); }
    std::string Ansi(const std::string& rel = "") const { return platform::AnsiPath(rel.empty() ? path_ : path_ / rel); }

private:
    std::filesystem::path path_;
};

inline std::string Utf8(const outlook::WideString& w) { return platform::Utf8FromUtf16(w); }

} // namespace quillmark::testing
