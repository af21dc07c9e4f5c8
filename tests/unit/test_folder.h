// A unique temporary folder owned by one test, removed with everything in it.
#pragma once

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif
#include <filesystem>

class TestFolder {
public:
    TestFolder() {
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (unsigned i = 0;; ++i) {
            std::filesystem::path candidate = base / ("vel-test-" + std::to_string(Pid()) + "-" + std::to_string(i));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate.string();
                break;
            }
        }
    }
    ~TestFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Root() const { return path_; }
    std::string Path(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

private:
    static unsigned long Pid() {
#if defined(_WIN32)
        return GetCurrentProcessId();
#else
        return static_cast<unsigned long>(getpid());
#endif
    }
    std::string path_;
};
