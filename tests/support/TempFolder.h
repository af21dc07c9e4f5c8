// A test's own temporary folder: made new and empty on construction, optionally the current
// folder for a while, and removed with everything in it on destruction (read-only files, and on
// Windows paths longer than MAX_PATH, too) unless VEL_KEEP_TEST_FOLDERS=1 asks to keep it, to look
// at what a run left behind. Portable: the same class natively and under Wine.
#pragma once

#include <string>

namespace velsupport {

class TempFolder {
public:
    enum class Place {
        SystemTemp,     // under the system's temporary folder (TMPDIR, GetTempPath)
        CurrentFolder,  // under the current folder, e.g. beside the programs a test runs
    };

    // Makes "<stem>.<process id>.<n>" (natively "<stem>.<random>") in `place`; Valid() tells
    // whether that worked.
    explicit TempFolder(const std::string& stem, Place place = Place::SystemTemp);
    // Leaves the folder if Enter() made it current, then removes it (see above).
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool Valid() const { return !path_.empty(); }
    // Full path without a trailing separator; empty when the folder could not be made.
    const std::string& Path() const { return path_; }
    // Path of `relative` inside the folder, joined with the host's separator.
    std::string operator/(const std::string& relative) const;

    // Makes `relative` (empty: the folder itself) the current folder; the one current before
    // the first call becomes current again on destruction.
    bool Enter(const std::string& relative = std::string());

private:
    std::string path_;
    std::string previous_;
    bool entered_ = false;
};

// Removes a folder and everything in it, read-only files and folders included; true when it
// is gone afterwards.
bool RemoveTree(const std::string& path);

// True when VEL_KEEP_TEST_FOLDERS is set to anything but "" or "0" (VEL_KEEP_TEST_FOLDERS=1).
bool KeepTestFolders();

}  // namespace velsupport
