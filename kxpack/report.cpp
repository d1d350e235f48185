#include "kxpack/report.h"

#include <algorithm>

namespace kxpack {

const char *SeverityName(Severity level)
{
    switch (level) {
    case Severity::Error:
        return "error";
    case Severity::Warning:
        return "warning";
    case Severity::Note:
        return "note";
    }
    return "?";
}

void Report::Add(Severity level, std::string area, std::string where, std::string text)
{
    findings_.push_back({level, std::move(area), std::move(where), std::move(text)});
}

int Report::Count(Severity level) const
{
    return static_cast<int>(std::count_if(findings_.begin(), findings_.end(),
                                          [&](const Finding &f) { return f.Level == level; }));
}

void Report::WriteText(std::ostream &out) const
{
    for (const std::string &line : Lines)
        out << line << "\n";
    // Errors first, then warnings, then notes; each kind in the order found.
    for (Severity level : {Severity::Error, Severity::Warning, Severity::Note}) {
        for (const Finding &f : findings_) {
            if (f.Level != level)
                continue;
            std::string head = SeverityName(level);
            head.resize(8, ' ');
            out << head << f.Area;
            if (!f.Where.empty())
                out << " " << f.Where;
            out << ": " << f.Text << "\n";
        }
    }
    const int errors = Count(Severity::Error);
    const int warnings = Count(Severity::Warning);
    out << errors << (errors == 1 ? " error, " : " errors, ") << warnings
        << (warnings == 1 ? " warning" : " warnings") << "\n";
}

nlohmann::json Report::ToJson() const
{
    nlohmann::json json = Facts;
    nlohmann::json list = nlohmann::json::array();
    for (const Finding &f : findings_)
        list.push_back({{"severity", SeverityName(f.Level)},
                        {"area", f.Area},
                        {"where", f.Where},
                        {"text", f.Text}});
    json["findings"] = std::move(list);
    json["errors"] = Count(Severity::Error);
    json["warnings"] = Count(Severity::Warning);
    return json;
}

void WriteJson(std::ostream &out, const nlohmann::json &value)
{
    out << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

} // namespace kxpack
