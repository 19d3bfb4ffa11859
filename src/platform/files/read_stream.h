#pragma once
// Reading a file takes a shared advisory lock: other readers allowed, writers
// kept out.

#include <cstdint>
#include <string>

#include "platform/files/held_folder.h"
#include "platform/files/stream.h"

namespace tovi::platform {

// A file opened for reading. Throws FileOpenError ("ファイル "%s" は開けません。%s").
class FileReadStream : public Stream {
public:
    explicit FileReadStream(const std::string &fileName);
    // The file named base inside a held folder, never through a link;
    // fileName is only for the messages.
    FileReadStream(const HeldFolder &folder, const std::string &base, const std::string &fileName);
    ~FileReadStream() override;
    FileReadStream(const FileReadStream &) = delete;
    FileReadStream &operator=(const FileReadStream &) = delete;

    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *, std::size_t) override { return 0; }
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_size; }

private:
    // Takes fd (-1: errno tells why it couldn't be opened).
    void take(int fd, const std::string &fileName);

    int m_fd = -1;
    std::uint64_t m_position = 0;
    std::uint64_t m_size = 0;
};

}  // namespace tovi::platform
