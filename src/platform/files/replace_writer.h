#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/files/held_file.h"
#include "platform/files/stream.h"

namespace tovi::platform {

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

// Writes a new version of a file safely: the content goes to a temporary file
// in the same folder (unnamed where the file system allows), which replaces
// the target (or a symbolic link's target) only on commit(), after everything
// was written and flushed to disk, and only if the name still refers to the
// file that was there. The new version gets the old one's owner, group,
// permission bits, access control lists and extended attributes; where the
// group can't be kept, the group has no permissions, and where the owner or
// the group can't be kept, the set-user-ID and set-group-ID bits go. The
// file capabilities (security.capability) never travel: they were granted
// to the old content. A read-only target, or a
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
    // can't be made durable, FileCreateError when the name was taken by
    // another file meanwhile, and FileChangedError when another program
    // changed the file in place since it was opened (its change then stays).
    void commit();

    // The steps of commit(), for a caller that replaces many files together
    // and flushes them as one group; each throws as commit() does and then
    // leaves the target untouched. finish() ends the writing: the attributes
    // and times are set and the new version starts on its way to the disk
    // without waiting for it. flush() waits until it is there, and reports a
    // failure of its own; fileSystemFlushed says that flushFileSystem() of
    // a writer on the same file system succeeded since finish(), which makes
    // flush() a wait without a flush of its own. replace() renames it over
    // the target if the name still leads to the file opened, as it was;
    // flushFolder() makes the rename durable, once for all the writers of
    // one folder (the others need not call it).
    void finish();
    // Flushes the whole file system the new version is on (syncfs); false
    // when that failed, and each writer's flush() then flushes its own file.
    bool flushFileSystem();
    void flush(bool fileSystemFlushed);
    void replace();
    void flushFolder();
    // The file system and the folder of the target (device and inode).
    std::uint64_t fileSystem() const;
    std::pair<std::uint64_t, std::uint64_t> folder() const;

private:
    void start();
    // Attributes and times of the new version.
    void finishContent();
    // Throws unless the name still leads to the file opened, as it was.
    void requireUntouchedTarget();
    int createTemporary();
    int nameTemporary();
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
    bool m_ownerChanged = false;
    bool m_finished = false;
    std::uint64_t m_position = 0;
};

// Throws the FileCreateError that a SafeFileWriter replacing the file would
// throw before writing anything (a read-only file, a folder where nothing can
// be created, ...), without opening, locking or tidying anything: a dry run's
// stand-in for the writer.
void checkReplaceable(const std::string &fileName);
// The same for the file named base inside a held folder.
void checkReplaceable(const HeldFolder &folder, const std::string &base, const std::string &fileName);

}  // namespace tovi::platform
