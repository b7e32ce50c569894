// Shared pieces of the export tests: a scratch directory, a host that records what the run
// tells its front end, and small file helpers.
#pragma once

#include "export/ExportRun.h"
#include "platform/FileSystem.h"
#include "platform/Regional.h"
#include "support/FakeOutlook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quillmark::testing {

// A fresh directory per test, removed afterwards. Regional settings are fixed to the
// English defaults so that texts are predictable.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetRegional(platform::RegionalSettings{});
        std::random_device rd;
        Root = std::filesystem::temp_directory_path() /
               ("qm-export-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(Root);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(Root, ec);
    }

    // Paths as the program holds them (UTF-8), also on Windows, where string() is the ANSI
    // code page.
    std::string Path(const std::string& rel = {}) const {
        return platform::Utf8Path(rel.empty() ? Root : Root / platform::NativePath(rel));
    }

    std::filesystem::path Root;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(platform::NativePath(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(platform::NativePath(path), std::ios::binary | std::ios::trunc);
    out << data;
}

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Names in a directory, sorted; empty when it does not exist.
inline std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(platform::NativePath(dir), ec))
        names.push_back(platform::Utf8Path(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

// Everything the run tells its front end, in order.
class RecordingHost : public ExportHost {
public:
    struct Status {
        std::string Text;
        int Mode;
    };
    void ShowStatus(const std::string& text, int mode) override { Statuses.push_back({text, mode}); }
    void SetProgressMax(int maximum) override { ProgressMax = maximum; }
    void SetProgress(int position) override { Progress.push_back(position); }
    void ProcessPendingEvents() override {
        ++EventTurns;
        if (OnEvents) OnEvents(EventTurns);
    }
    void SetFromText(const std::string& text) override {
        FromText = text;
        FromSet = true;
    }

    std::vector<Status> Statuses;
    int ProgressMax = -1;
    std::vector<int> Progress;
    int EventTurns = 0;
    std::function<void(int turn)> OnEvents;
    std::string FromText;
    bool FromSet = false;
};

inline AppIdentity TestIdentity() {
    AppIdentity id;
    id.ProductName = "Quillmark";
    id.ProductVersion = "0.3";
    id.FileVersion = "1.2.4.9";
    id.Comments = "Mail to HTML";
    id.ExecutableBaseName = "quillmark";
    return id;
}

} // namespace quillmark::testing
