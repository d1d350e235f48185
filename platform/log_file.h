#pragma once
// The upgrade log file, "offline-upgrade.log": a sink for the log seam that appends time-stamped
// lines to the first of its candidate folders where the file can be written, and keeps its size
// bounded by renaming it once to "offline-upgrade.log.1" (replacing an older one) when it has
// grown past a limit. A sink that finds no folder to write drops every line: the log never stops
// the tool.

#include "platform/diagnostics.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace offline_upgrade {

inline constexpr char kLogFileName[] = "offline-upgrade.log";
// About 1 MB; the file then starts afresh and its older part is kept once.
inline constexpr uint64_t kLogRotateBytes = 1024 * 1024;

class FileLogSink : public ILogSink {
public:
    // Opens kLogFileName for appending in the first folder of folders (each with or without a
    // trailing separator) where that works, creating a missing folder with its parents. A
    // file already past rotateBytes is rotated first. Never throws beyond std::bad_alloc.
    explicit FileLogSink(const std::vector<std::string> &folders,
                         uint64_t rotateBytes = kLogRotateBytes);
    ~FileLogSink() override;
    FileLogSink(const FileLogSink &) = delete;
    FileLogSink &operator=(const FileLogSink &) = delete;

    // One line: local time with milliseconds and UTC offset, the level, the text. Line breaks
    // inside the text continue on indented lines, so every record starts with its time stamp.
    // Flushed at once: a crash loses no line. Rotates when the file has grown past the limit.
    void Write(LogLevel level, std::string_view line) override;

    // Starts a new section: an empty line, then a marked line with title.
    void BeginSection(std::string_view title);

    // The path of the open log file; empty when no folder could take it.
    const std::string &Path() const { return path_; }

private:
    bool OpenIn(const std::string &folder);
    void Append(const std::string &text);
    void Rotate();

    std::mutex mutex_;
    std::FILE *file_ = nullptr;
    std::string path_;
    uint64_t size_ = 0;
    uint64_t rotateBytes_;
};

// The UTC offset of a local time as the log writes it, "+0800", "-0330": local and utc are the
// same instant as localtime and gmtime give it.
std::string UtcOffsetText(const std::tm &local, const std::tm &utc);

// The folders the upgrade log may go to, in order: the program folder, then the user's own
// state folder for the tool (on Linux $XDG_STATE_HOME/offline-upgrade/, by default
// ~/.local/state/offline-upgrade/). Implemented per platform.
std::vector<std::string> UpgradeLogFolders(const std::string &programFolder);

// The upgrade log of a program in programFolder: a FileLogSink on UpgradeLogFolders.
// Implemented beside it.
std::unique_ptr<FileLogSink> OpenUpgradeLog(const std::string &programFolder);

} // namespace offline_upgrade
