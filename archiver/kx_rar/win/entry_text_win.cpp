#include "entry_text.h"

#include "entry_name.h"

#include "platform/codepage.h"
#include "platform/win/wide.h"

#include <windows.h>

namespace kx_rar {

using offline_upgrade::Narrow;
using offline_upgrade::ToUtf8;
using offline_upgrade::Widen;

void PrepareNameReading(archive *reader)
{
    // The library's own reading of a name without the UTF-8 flag is left unused (EntryText
    // decodes the stored bytes); code page 437 maps every byte, so it never fails on one.
    archive_read_set_options(reader, "zip:hdrcharset=CP437");
}

std::optional<std::string> EntryText(archive_entry *, const ZipEntry &stored)
{
    return ToUtf8(stored.Name);
}

std::string SystemNameProblem(std::string_view part)
{
    std::string problem = WindowsNameProblem(part);
    return problem.empty() ? NameLengthProblem(part, SystemLengthUnit()) : problem;
}

LengthUnit SystemLengthUnit()
{
    // Wine keeps names in UTF-8 on its Linux host, whose 255 bytes hold fewer characters than
    // Windows' 255 units, and cuts a longer name short without a word: there the bytes count.
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? LengthUnit::Bytes : LengthUnit::Utf16;
}

std::string SameFileKey(const std::string &path)
{
    // The system's own capitals, as its file systems compare names.
    std::wstring wide = Widen(path);
    if (!wide.empty())
        CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

} // namespace kx_rar
