// Temporary mail stores for the mailbox tests, written from strings.
#pragma once

#include "outlook/ObjectModel.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace quillmark::testing {

// The shared temporary directory with helpers to lay out mail stores in it.
class TempDir : public test::TempDir {
public:
    const std::filesystem::path& Path() const { return test::TempDir::Path(); }
    // Writes a file (creating its directories) and returns its path.
    std::filesystem::path Write(const std::string& rel, const std::string& data) const {
        auto p = Path() / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out << data;
        return p;
    }
    void MakeDir(const std::string& rel) const { std::filesystem::create_directories(Path() / rel); }
    std::string Ansi(const std::string& rel = "") const { return platform::Utf8Path(rel.empty() ? Path() : Path() / rel); }
};

inline std::string Utf8(const outlook::WideString& w) { return platform::Utf8FromUtf16(w); }

} // namespace quillmark::testing
