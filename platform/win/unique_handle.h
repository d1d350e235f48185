#pragma once
// The owners of Windows handles (scoped_handle.h), one traits struct for each way the system
// closes a handle and marks an invalid one. No windows.h here, so that the classes of this
// folder can hold them: a HANDLE is a void *, and an HKEY converts to one.

#include "platform/scoped_handle.h"

#include <cstdint>

namespace offline_upgrade {

// Files, folders and devices from CreateFile, snapshots: invalid is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = void *;
    static Type Invalid() noexcept { return reinterpret_cast<Type>(static_cast<intptr_t>(-1)); }
    static bool Close(Type handle) noexcept;
};

// Processes, threads, pipes from CreatePipe: invalid is NULL.
struct KernelHandleTraits {
    using Type = void *;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type handle) noexcept;
};

// Searches of FindFirstFile.
struct FindHandleTraits {
    using Type = void *;
    static Type Invalid() noexcept { return reinterpret_cast<Type>(static_cast<intptr_t>(-1)); }
    static bool Close(Type handle) noexcept;
};

// Open registry keys (an HKEY; static_cast it back for the calls).
struct RegKeyTraits {
    using Type = void *;
    static Type Invalid() noexcept { return nullptr; }
    static bool Close(Type key) noexcept;
};

using UniqueFileHandle = ScopedHandle<FileHandleTraits>;
using UniqueKernelHandle = ScopedHandle<KernelHandleTraits>;
using UniqueFindHandle = ScopedHandle<FindHandleTraits>;
using UniqueRegKey = ScopedHandle<RegKeyTraits>;

} // namespace offline_upgrade
