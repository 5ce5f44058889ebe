#pragma once

namespace oscnet {

/// Records the message of a failing handle function for oscnet_last_error() on this thread.
/// printf-style; truncated to the buffer, never allocates, never throws.
void set_last_error(const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// Forgets the calling thread's message: every handle function starts with it, so that the
/// message always belongs to the thread's latest call. One byte written, nothing else.
void clear_last_error() noexcept;

/// The calling thread's last message, "" when none was recorded. Never null.
const char* last_error() noexcept;

}  // namespace oscnet
