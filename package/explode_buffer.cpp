// explodeBuffer: the decoder over memory, for the packager and the tests.
// Kept apart from the streaming decoder so that code which links only the
// decoder (the implode library) needs no C++ runtime.
#include <cstring>
#include <new>

#include "package/explode.h"

namespace {

struct BufferSource {
    const std::uint8_t* next;
    std::size_t left;
    std::vector<std::uint8_t>* out;
};

unsigned bufferRead(char* buf, unsigned* size, void* param)
{
    auto* src = static_cast<BufferSource*>(param);
    std::size_t n = *size < src->left ? *size : src->left;
    if (n == 0)
        return 0; // src->next may be null for empty input
    std::memcpy(buf, src->next, n);
    src->next += n;
    src->left -= n;
    return static_cast<unsigned>(n);
}

void bufferWrite(char* buf, unsigned* size, void* param)
{
    auto* src = static_cast<BufferSource*>(param);
    src->out->insert(src->out->end(), buf, buf + *size);
}

} // namespace

ExplodeStatus explodeBuffer(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out)
{
    out.clear();
    BufferSource src{in, n, &out};
    try {
        return explodeStream(bufferRead, bufferWrite, &src);
    } catch (const std::bad_alloc&) {
        return ExplodeStatus::OutOfMemory;
    }
}
