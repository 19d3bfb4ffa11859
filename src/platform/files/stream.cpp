#include "platform/files/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace tovi::platform {

void Stream::readExact(void *buffer, std::size_t n)
{
    if (read(buffer, n) != n)
        throw StreamReadError();
}

void Stream::writeExact(const void *buffer, std::size_t n)
{
    errno = 0;
    if (write(buffer, n) != n) {
        // The system's reason ("No space left on device") for whoever reports
        // it; a file writer knows which of its steps failed.
        const int code = errno;
        const std::string why = writeFailure();
        throw StreamWriteError(!why.empty() ? why : code ? systemErrorText(code) : std::string());
    }
}

// ---------------------------------------------------------------- MemoryStream

std::size_t MemoryStream::read(void *buffer, std::size_t n)
{
    if (m_position >= m_data.size())
        return 0;
    const std::size_t count = std::min<std::uint64_t>(n, m_data.size() - m_position);
    if (count == 0)
        return 0;
    std::memcpy(buffer, m_data.data() + m_position, count);
    m_position += count;
    return count;
}

std::size_t MemoryStream::write(const void *buffer, std::size_t n)
{
    if (n == 0)
        return 0;
    const std::uint64_t end = m_position + n;
    if (end > m_data.size())
        m_data.resize(std::size_t(end));
    std::memcpy(m_data.data() + m_position, buffer, n);
    m_position = end;
    return n;
}

}  // namespace tovi::platform
