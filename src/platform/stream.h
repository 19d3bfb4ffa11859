#pragma once
// Byte streams: in memory and over POSIX files. Reading a file takes a shared
// advisory lock (other readers allowed, writers kept out); writing takes an
// exclusive one.

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

// A file opened for reading. Throws FileOpenError ("ファイル "%s" は開けません。%s").
class FileReadStream : public Stream {
public:
    explicit FileReadStream(const std::string &fileName);
    ~FileReadStream() override;
    FileReadStream(const FileReadStream &) = delete;
    FileReadStream &operator=(const FileReadStream &) = delete;

    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *, std::size_t) override { return 0; }
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_size; }

private:
    int m_fd = -1;
    std::uint64_t m_position = 0;
    std::uint64_t m_size = 0;
};

// Writes a new version of a file safely: the content goes to a temporary file
// in the same folder, which replaces the target (or a symbolic link's target)
// only on commit(), after everything was written and flushed to disk. The
// target's permission bits are kept. A read-only target, or a folder where no
// file can be created, throws FileCreateError before anything is written.
// Without commit() the temporary file is removed and the target is untouched.
class SafeFileWriter : public Stream {
public:
    explicit SafeFileWriter(const std::string &fileName);
    ~SafeFileWriter() override;
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    std::size_t read(void *, std::size_t) override { return 0; }
    std::size_t write(const void *buffer, std::size_t n) override;
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_position; }

    // Flushes, then renames the temporary file over the target. Throws
    // StreamWriteError when the data can't be made durable.
    void commit();

private:
    // Each gives 0 or the errno that stops the write.
    int lockOriginal();
    int createTemporary();
    // Closes and removes the temporary file and lets go of the target.
    void discard();

    std::string m_fileName; // as given, for the messages
    std::string m_target;   // the file that is replaced (a link's target resolved)
    std::string m_tempName;
    int m_fd = -1;          // the temporary file
    int m_originalFd = -1;  // the target while it is replaced, locked exclusively
    int m_unfinishedSlot = -1;
    std::uint64_t m_position = 0;
    bool m_failed = false;
};

// The absolute form of a name: current folder prepended, "." and ".." folded,
// links not resolved.
std::string fullPathName(const std::string &name);

// Removes the temporary files of writers that haven't committed; safe to call
// from a signal handler.
void removeUnfinishedFiles() noexcept;
// Makes SIGINT, SIGTERM and SIGHUP remove those files before they end the
// program as they would have, so that an interrupted run leaves no temporary
// file behind.
void removeUnfinishedFilesOnSignals();

}  // namespace tovi::platform
