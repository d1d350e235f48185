#pragma once
// What kxpack found in a package: findings with their severity and place, and the facts it
// read along the way, written as English text or as JSON.

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace kxpack {

enum class Severity {
    Error,   // the tool will reject the package or misapply it
    Warning, // it works, but is likely a mistake
    Note,    // how the tool reads it, for the maker's information
};

struct Finding {
    Severity Level = Severity::Note;
    std::string Area;  // "descriptor", "archive", "script", "files", "scan" or "driver"
    std::string Where; // e.g. "Update.ini [CONFIG] SQLCount", "UpdateSQL.sql:12"
    std::string Text;
};

class Report {
public:
    void Add(Severity level, std::string area, std::string where, std::string text);
    const std::vector<Finding> &Findings() const { return findings_; }
    int Count(Severity level) const;

    // What was read, as lines shown above the findings in the text form.
    std::vector<std::string> Lines;
    // Facts for the JSON form, by section ("descriptor", "archive", ...).
    nlohmann::json Facts = nlohmann::json::object();

    // The lines, then the findings as lines "error   AREA WHERE: TEXT" (errors first), then a
    // summary line.
    void WriteText(std::ostream &out) const;
    // {"findings": [...], "errors": n, "warnings": n, plus the facts}.
    nlohmann::json ToJson() const;

private:
    std::vector<Finding> findings_;
};

const char *SeverityName(Severity level);

// Writes a JSON value with two-space indents; bytes that are not UTF-8 become U+FFFD.
void WriteJson(std::ostream &out, const nlohmann::json &value);

// A text in double quotes, for reports.
std::string Quoted(const std::string &text);

} // namespace kxpack
