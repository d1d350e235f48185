#include "aes_reader.h"

namespace kx_rar {

// The Windows form has no cipher library of its own beside the archive library's: these
// entries are left to it.
std::unique_ptr<EntryReader> OpenAesEntry(fa::Native, const ZipEntry &, const std::string &,
                                          std::string)
{
    return nullptr;
}

} // namespace kx_rar
