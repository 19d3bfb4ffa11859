#pragma once
// Byte streams: the interface every reader and writer of pictures takes, and
// one in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovi::platform {

class Stream {
public:
    virtual ~Stream() = default;
    // Reads up to n bytes; returns how many were read (fewer only at the end).
    virtual std::size_t read(void *buffer, std::size_t n) = 0;
    // Writes n bytes; returns how many were written (fewer on a failure).
    virtual std::size_t write(const void *buffer, std::size_t n) = 0;
    virtual std::uint64_t position() const = 0;
    virtual std::uint64_t size() const = 0;

    // Reads exactly n bytes or throws StreamReadError.
    void readExact(void *buffer, std::size_t n);
    // Writes exactly n bytes or throws StreamWriteError.
    void writeExact(const void *buffer, std::size_t n);
    std::uint64_t remaining() const { return size() - position(); }

protected:
    // What made the last write fall short, for the error; "" when unknown.
    virtual std::string writeFailure() const { return {}; }
};

class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}
    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *buffer, std::size_t n) override;
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_data.size(); }
    void seek(std::uint64_t position) { m_position = position; }
    const std::vector<std::uint8_t> &data() const { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
    std::uint64_t m_position = 0;
};

}  // namespace tovi::platform
