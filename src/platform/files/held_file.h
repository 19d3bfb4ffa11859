#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files/file_identity.h"
#include "platform/files/held_folder.h"
#include "platform/files/stream.h"

namespace tovi::platform {

// A file held from its reading to its replacing. The folder is opened once
// and the file once, locked exclusively: another run that wants the same file
// finds it in use at once, and nobody replaces it meanwhile. Throws
// FileOpenError when the file can't be opened for reading, and FileCreateError
// when it is in use.
class HeldFile : public Stream {
public:
    explicit HeldFile(const std::string &fileName);
    // The file named base inside a folder held since a walk, never through a
    // link, however the folder's path changed meanwhile; fileName is only
    // for the messages.
    HeldFile(const HeldFolder &folder, const std::string &base, const std::string &fileName);
    // The same two, opened ahead of their holding: the folder and the file
    // are opened as above, nothing is locked or tidied until hold(), and
    // what kept the file from opening is thrown there. Meanwhile identity()
    // and peek() tell which file it is and how it starts.
    static std::unique_ptr<HeldFile> openAhead(const std::string &fileName);
    static std::unique_ptr<HeldFile> openAhead(const HeldFolder &folder, const std::string &base,
                                               const std::string &fileName);
    ~HeldFile() override;
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    std::size_t read(void *buffer, std::size_t n) override;
    std::size_t write(const void *, std::size_t) override { return 0; }
    std::uint64_t position() const override { return m_position; }
    std::uint64_t size() const override { return m_size; }
    // Reading starts again at the file's first byte.
    void rewind() { m_position = 0; }

    // Holds a file opened ahead, throwing what the constructor would have.
    // Should its name lead to another file by now, that one is opened and
    // held instead. Nothing for a file held already.
    void hold();
    // The file as it was opened; nothing when it couldn't be.
    const FileIdentity *identity() const { return m_fd >= 0 ? &m_identity : nullptr; }
    // Up to n of its first bytes, read through its own descriptor; the
    // position stays.
    std::size_t peek(void *buffer, std::size_t n) const;

    // The names the file has besides the one it was opened by (hard links).
    std::uint64_t otherLinks() const;
    // Whether the new version that replaced it has another owner or group
    // than it had: the runner's, where the runner may not give it back.
    bool ownerChanged() const { return m_ownerChanged; }

private:
    friend class SafeFileWriter;
    friend void checkReplaceable(const std::string &fileName);
    friend void checkReplaceable(const HeldFolder &folder, const std::string &base, const std::string &fileName);
    // Read: for reading, then perhaps replacing; Replace: for replacing only
    // (the file may be new); Check: only the refusals of Replace, nothing
    // opened but the folder, nothing locked or tidied.
    enum class Purpose { Read, Replace, Check };
    HeldFile() = default;
    HeldFile(const std::string &fileName, Purpose purpose);
    HeldFile(const HeldFolder &folder, const std::string &base, const std::string &fileName, Purpose purpose);
    // Resolves m_fileName's links and opens the folder of its target; 0 or
    // the errno that stopped it.
    int openFolder();
    // After the folder's opening (code: its errno), opens the file for reading.
    void openedAhead(int code);
    // Opens the file in m_folderFd for purpose, locks it and tidies beside it.
    void hold(Purpose purpose);
    // Locks the file opened and tidies beside it.
    void lock();
    [[noreturn]] void fail(Purpose purpose, int code);
    // Opens m_base in m_folderFd; 0 or the errno that stopped it.
    int openInFolder(Purpose purpose);
    void release() noexcept;

    std::string m_fileName;  // as given, for the messages
    std::string m_folder;    // the folder of the file (a link's target resolved)
    std::string m_base;      // its name in that folder
    int m_folderFd = -1;
    int m_fd = -1;           // the file itself; -1 for a file that is new
    // Opened inside a held folder: the name is not looked up again.
    bool m_inHeldFolder = false;
    // Opened ahead and not held yet; what kept it from opening.
    bool m_openedAhead = false;
    int m_aheadError = 0;
    FileIdentity m_identity;
    bool m_ownerChanged = false;
    std::uint64_t m_position = 0;
    std::uint64_t m_size = 0;
};

}  // namespace tovi::platform
