#include "entry_text.h"

#include "platform/codepage.h"

void PrepareNameReading(archive *reader)
{
    // The library's own reading of a name without the UTF-8 flag is left unused (EntryText
    // decodes the stored bytes); code page 437 maps every byte, so it never fails on one.
    archive_read_set_options(reader, "zip:hdrcharset=CP437");
}

std::optional<std::string> EntryText(archive_entry *, const ZipEntry &stored)
{
    return ToSystemText(stored.Name);
}
