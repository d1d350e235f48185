#pragma once
// One owner for every kind of system handle: a file descriptor on POSIX (posix/unique_fd.h), a
// file, search, registry key or process handle on Windows (win/unique_handle.h). The kind is a
// traits struct:
//
//   struct Traits {
//       using Type = ...;                  // the handle's type
//       static Type Invalid();             // the value that owns nothing
//       static bool Close(Type handle);    // true when the system closed it without error
//   };
//
// The owner closes its handle when it goes, on every path; Close() closes it early and says
// whether the system reported an error (a delayed write error shows there on both systems).

#include <utility>

namespace offline_upgrade {

template <typename Traits> class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit ScopedHandle(Type handle) noexcept : handle_(handle) {}
    ScopedHandle(ScopedHandle &&other) noexcept : handle_(other.release()) {}
    ScopedHandle &operator=(ScopedHandle &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;
    ~ScopedHandle() { reset(); }

    // True when it owns a handle.
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }
    Type get() const noexcept { return handle_; }

    // Gives the handle up without closing it.
    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    // Closes the handle it owns (ignoring the outcome) and takes handle.
    void reset(Type handle = Traits::Invalid()) noexcept
    {
        const Type old = std::exchange(handle_, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

    // Closes the handle now. True when it owned none or the system closed it without error.
    bool Close() noexcept
    {
        const Type old = release();
        return old == Traits::Invalid() || Traits::Close(old);
    }

private:
    Type handle_;
};

} // namespace offline_upgrade
