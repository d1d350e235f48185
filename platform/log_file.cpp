#include "platform/log_file.h"
#include "platform/native_path.h"
#include "platform/text.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

std::FILE *OpenForAppending(const std::string &path)
{
#ifdef _WIN32
    return _wfopen(LongNativePath(path).c_str(), L"ab");
#else
    return std::fopen(path.c_str(), "ab");
#endif
}

} // namespace

namespace {

const char *LevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Info:
        return "INFO ";
    case LogLevel::Warning:
        return "WARN ";
    case LogLevel::Error:
        return "ERROR";
    }
    return "?    ";
}

std::string InFolder(const std::string &folder, const std::string &name)
{
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\')
        return folder + name;
    return folder + "/" + name;
}

} // namespace

std::string UtcOffsetText(const std::tm &local, const std::tm &utc)
{
    // The two calendars are at most a day apart; across a year's end the day of the year
    // starts again.
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year)
        days = local.tm_year > utc.tm_year ? 1 : -1;
    const int minutes = (days * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100,
                  magnitude % 60);
    return text;
}

namespace {

// "2026-12-10 14:38:51.123 +0100". The calendar part is made once per second: the time zone
// lookup behind it costs more than the rest of a line.
class TimeStamp {
public:
    std::string Now()
    {
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        if (seconds != cachedSecond_ || calendar_.empty()) {
            cachedSecond_ = seconds;
            char text[32] = {};
            zone_.clear();
            // Copied at once: both calls may hand out the same static object.
            const std::tm *localTm = std::localtime(&seconds);
            const std::tm local = localTm ? *localTm : std::tm{};
            const std::tm *utcTm = std::gmtime(&seconds);
            if (localTm) {
                std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
                // Not strftime's %z: Windows' C library writes the zone's name there, or
                // nothing (Wine).
                if (utcTm)
                    zone_ = UtcOffsetText(local, *utcTm);
            }
            calendar_ = text;
        }
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
        return calendar_ + fraction + " " + zone_;
    }

private:
    std::time_t cachedSecond_ = 0;
    std::string calendar_;
    std::string zone_;
};

TimeStamp &Clock()
{
    static TimeStamp clock;
    return clock;
}

} // namespace

FileLogSink::FileLogSink(const std::vector<std::string> &folders, uint64_t rotateBytes)
    : rotateBytes_(rotateBytes)
{
    for (const std::string &folder : folders) {
        if (OpenIn(folder))
            return;
    }
}

FileLogSink::~FileLogSink()
{
    if (file_)
        std::fclose(file_);
}

bool FileLogSink::OpenIn(const std::string &folder)
{
    if (folder.empty())
        return false;
    std::error_code error;
    fs::create_directories(LongNativePath(folder), error);
    const std::string path = InFolder(folder, kLogFileName);
    std::FILE *file = OpenForAppending(path);
    if (!file)
        return false;
    file_ = file;
    path_ = path;
    const auto size = fs::file_size(LongNativePath(path), error);
    size_ = error ? 0 : static_cast<uint64_t>(size);
    if (size_ >= rotateBytes_)
        Rotate();
    return file_ != nullptr;
}

void FileLogSink::Rotate()
{
    std::fclose(file_);
    std::error_code error;
    // Replaces the older part kept before; where the rename fails the file just grows on.
    fs::rename(LongNativePath(path_), LongNativePath(path_ + ".1"), error);
    file_ = OpenForAppending(path_);
    size_ = 0;
}

void FileLogSink::Append(const std::string &text)
{
    if (!file_)
        return;
    const size_t written = std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
    size_ += written;
    if (size_ >= rotateBytes_)
        Rotate();
}

void FileLogSink::Write(LogLevel level, std::string_view line)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        return;
    std::string text = Clock().Now();
    text += ' ';
    text += LevelName(level);
    text += ' ';
    text.reserve(text.size() + line.size() + 1);
    // Names from packages, scripts and the file system are in many records: a control
    // character in one is written as an escape, so that reading the log in a terminal shows
    // what was there rather than obeying it.
    // A carriage return right before a line feed belongs to the line end (a Windows driver's or
    // program's lines).
    std::string lines;
    lines.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (!(line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n'))
            lines += line[i];
    }
    const std::string shown = EscapeControls(lines);
    for (size_t i = 0; i < shown.size(); ++i) {
        const char c = shown[i];
        if (c == '\n') {
            // A message of several lines (a driver's records, an archiver's output) stays one
            // record: its later lines are indented.
            if (i + 1 < shown.size())
                text += "\n    ";
            continue;
        }
        text += c;
    }
    text += '\n';
    Append(text);
}

void FileLogSink::BeginSection(std::string_view title)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        return;
    Append("\n" + Clock().Now() + " ===== " + std::string(title) + " =====\n");
}

} // namespace offline_upgrade
