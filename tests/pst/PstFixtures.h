// The sample Outlook data files kept in tests/data/pst: where they are. They ship with the
// project, so a missing folder is a broken checkout and fails the test instead of skipping it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quillmark::test {

inline std::string FixtureDir() { return std::string(QUILLMARK_TEST_DATA) + "/pst/"; }

#define REQUIRE_PST_FIXTURES()                                                                  \
    do {                                                                                        \
        if (!std::filesystem::is_directory(::quillmark::test::FixtureDir()))                    \
            GTEST_FAIL() << "PST sample files not found in " << ::quillmark::test::FixtureDir() \
                         << " (they belong to the checkout)";                                  \
    } while (0)

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace quillmark::test
