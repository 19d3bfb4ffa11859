#pragma once
// Byte streams: in memory and over POSIX files. Reading a file takes a shared
// advisory lock (other readers allowed, writers kept out); writing, and
// holding a file from reading to replacing, take an exclusive one.

#include <cstddef>
#include <cstdint>
#include <memory>
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

// How a replaced file's old version is kept (the backup conventions of the
// GNU tools).
enum class BackupControl {
    None,      // not kept
    Simple,    // NAME + suffix, replacing an older one
    Numbered,  // NAME.~N~, N one above the highest there is
    Existing,  // numbered where numbered backups exist already, else simple
};

struct ReplaceOptions {
    BackupControl backup = BackupControl::None;
    std::string backupSuffix = "~";
    // The new version keeps the old one's access and modification times.
    bool preserveTimestamps = false;
};

// A file held from its reading to its replacing. The folder is opened once
// and the file once, locked exclusively: another run that wants the same file
// finds it in use at once, and nobody replaces it meanwhile. Throws
// FileOpenError when the file can't be opened for reading, and FileCreateError
// when it is in use.
class HeldFile : public Stream {
public:
    explicit HeldFile(const std::string &fileName);
    ~HeldFile() override;
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *, std::size_t) override { return 0; }
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_size; }

    // The names the file has besides the one it was opened by (hard links).
    std::uint64_t otherLinks() const;

private:
    friend class SafeFileWriter;
    enum class Purpose { Read, Replace };
    HeldFile(const std::string &fileName, Purpose purpose);
    void release() noexcept;

    std::string m_fileName;  // as given, for the messages
    std::string m_folder;    // the folder of the file (a link's target resolved)
    std::string m_base;      // its name in that folder
    int m_folderFd = -1;
    int m_fd = -1;           // the file itself; -1 for a file that is new
    struct Identity {
        std::uint64_t device = 0, inode = 0, links = 0;
        unsigned mode = 0, owner = 0, group = 0;
        std::int64_t accessed[2] = {}, modified[2] = {};  // seconds, nanoseconds
    } m_identity;
    std::uint64_t m_position = 0;
    std::uint64_t m_size = 0;
};

// Writes a new version of a file safely: the content goes to a temporary file
// in the same folder (unnamed where the file system allows), which replaces
// the target (or a symbolic link's target) only on commit(), after everything
// was written and flushed to disk, and only if the name still refers to the
// file that was there. The new version gets the old one's owner, group,
// permission bits, access control lists and extended attributes; where the
// group can't be kept, the group has no permissions. A read-only target, or a
// folder where no file can be created, throws FileCreateError before anything
// is written. Without commit() nothing stays behind and the target is
// untouched.
class SafeFileWriter : public Stream {
public:
    explicit SafeFileWriter(const std::string &fileName);
    // Replaces a held file; it must outlive the writer.
    SafeFileWriter(HeldFile &original, ReplaceOptions options = {});
    ~SafeFileWriter() override;
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    std::size_t read(void *, std::size_t) override { return 0; }
    std::size_t write(const void *buffer, std::size_t n) override;
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_position; }

    // Flushes, then renames the new version over the target. Throws
    // StreamWriteError, naming the file and the step that failed, when the data
    // can't be made durable, and FileCreateError when the name was taken by
    // another file meanwhile.
    void commit();

private:
    void start();
    int createTemporary();
    int nameTemporary();
    void copyAttributes();
    void keepBackup();
    std::string writeFailure() const override;
    [[noreturn]] void fail(const char *step, int code);
    // Closes and removes the temporary file and lets go of the target.
    void discard() noexcept;

    std::unique_ptr<HeldFile> m_own;  // the target when the writer opened it
    HeldFile *m_target = nullptr;
    ReplaceOptions m_options;
    std::string m_tempName;  // in the target's folder; empty while unnamed
    int m_fd = -1;           // the temporary file
    int m_unfinishedSlot = -1;
    int m_writeError = 0;
    std::uint64_t m_position = 0;
};

// The absolute form of a name: current folder prepended, "." and ".." folded,
// links not resolved.
std::string fullPathName(const std::string &name);
// The full path of the file the system opens for a name: fullPathName() where
// that names the same file, else with the folder resolved ("link/../x" is the
// x beside the link's target, not the one beside the link).
std::string openedPathName(const std::string &name);

// Removes the temporary files of writers that haven't committed; safe to call
// from a signal handler.
void removeUnfinishedFiles() noexcept;
// Makes SIGINT, SIGTERM and SIGHUP remove those files before they end the
// program as they would have, so that an interrupted run leaves no temporary
// file behind.
void removeUnfinishedFilesOnSignals();

// For tests: makes the nth call from now (1 = the next) of one system call of
// the replace path fail with `code`, as a full disk or a failing device would.
enum class FileCall { OpenTemporary, Write, Fsync, Link, Rename, FolderFsync, Owner, Mode, Attributes, Times };
void injectFileFault(FileCall call, int nth, int code);
void clearFileFaults();

}  // namespace tovi::platform
