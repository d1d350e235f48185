#include "ops_loader.h"

#include "file_access.h"
#include "ops_module.h"
#include "rar_error.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

// The module's image, from ops_image.cpp.
extern "C" const unsigned char kx_rar_ops_image_begin[];
extern "C" const unsigned char kx_rar_ops_image_end[];

namespace kx_rar {

namespace {

[[noreturn]] void CannotLoad(const std::string &why)
{
    throw RarError(ExitCode::Fatal, "cannot load the module of the commands x and a (" + why +
                                        "); the comment command cw works without it");
}

} // namespace

int RunOpsCommand(int argc, char **argv)
{
    const fa::Handle fd(memfd_create("KX_Rar_ops.so", MFD_CLOEXEC));
    if (!fd.Valid())
        CannotLoad(std::string("memory file: ") + std::strerror(errno));
    const unsigned char *p = kx_rar_ops_image_begin;
    while (p < kx_rar_ops_image_end) {
        const ssize_t n =
            write(static_cast<int>(fd.Get()), p, static_cast<size_t>(kx_rar_ops_image_end - p));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            CannotLoad(std::string("memory file: ") + std::strerror(errno));
        p += n;
    }
    // Through the descriptor: the file has no name anyone else could replace.
    const std::string name = "/proc/self/fd/" + std::to_string(fd.Get());
    void *module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char *why = dlerror();
        CannotLoad(why ? why : "unknown error");
    }
    // The module stays loaded until the program ends: its threads and handlers may need it.
    auto *run = reinterpret_cast<KxRarRunOpsFunction *>(dlsym(module, KX_RAR_OPS_ENTRY));
    if (!run)
        CannotLoad(KX_RAR_OPS_ENTRY " not found");
    return run(argc, argv);
}

} // namespace kx_rar
