#pragma once
// Reading a file takes a shared advisory lock: other readers allowed, writers
// kept out.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files/file_identity.h"
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
    // The same two, opened ahead of their reading: the file is opened as
    // above and nothing locked until lock(), which throws what kept it from
    // opening. Meanwhile identity() and peek() tell which file it is and how
    // it starts.
    static std::unique_ptr<FileReadStream> openAhead(const std::string &fileName);
    static std::unique_ptr<FileReadStream> openAhead(const HeldFolder &folder, const std::string &base,
                                                     const std::string &fileName);
    ~FileReadStream() override;
    FileReadStream(const FileReadStream &) = delete;
    FileReadStream &operator=(const FileReadStream &) = delete;

    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *, std::size_t) override { return 0; }
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_size; }

    // Locks a stream opened ahead, throwing what the constructor would have.
    // Nothing for a stream locked already.
    void lock();
    // The file as it was opened; nothing when it couldn't be.
    const FileIdentity *identity() const { return m_fd >= 0 ? &m_identity : nullptr; }
    // Up to n of its first bytes; the position stays.
    std::size_t peek(void *buffer, std::size_t n) const;

private:
    struct Opened {
        int fd;    // -1: not opened
        int code;  // why not
    };
    static Opened openByName(const std::string &fileName);
    static Opened openInFolder(const HeldFolder &folder, const std::string &base);
    // Takes over a descriptor of fileName opened for reading, unlocked.
    FileReadStream(Opened opened, const std::string &fileName);

    std::string m_fileName;  // for the messages
    int m_fd = -1;
    int m_openError = 0;  // what kept the file from opening, for lock()
    bool m_locked = false;
    FileIdentity m_identity;
    std::uint64_t m_position = 0;
    std::uint64_t m_size = 0;
};

}  // namespace tovi::platform
