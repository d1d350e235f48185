#include "entry_text.h"

namespace kx_rar {

void PrepareNameReading(archive *)
{
    // Names come as stored: the program runs with a UTF-8 character type (ops_module.cpp).
}

std::optional<std::string> EntryText(archive_entry *entry, const ZipEntry &)
{
    const char *name = archive_entry_pathname(entry);
    if (!name)
        return std::nullopt;
    return std::string(name);
}

std::string SystemNameProblem(std::string_view part)
{
    return NameLengthProblem(part, LengthUnit::Bytes);
}

LengthUnit SystemLengthUnit()
{
    return LengthUnit::Bytes;
}

std::string SameFileKey(const std::string &path)
{
    return path;
}

} // namespace kx_rar
