#pragma once

// Replies and errors from xcb are malloc'd and the caller frees them.

#include <cstdlib>
#include <memory>

struct XcbFree {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;
