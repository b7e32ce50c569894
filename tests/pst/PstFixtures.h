// The shared sample data files: where they are, and skipping when they are not there.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quillmark::test {

inline std::string FixtureDir() { return std::string(QUILLMARK_SHARED_FIXTURES) + "/pst/"; }

#define REQUIRE_PST_FIXTURES()                                                                  \
    do {                                                                                        \
        if (!std::filesystem::is_directory(::quillmark::test::FixtureDir()))                    \
            GTEST_SKIP() << "PST sample files not found in " << ::quillmark::test::FixtureDir() \
                         << "; skipping.";                                                      \
    } while (0)

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace quillmark::test
