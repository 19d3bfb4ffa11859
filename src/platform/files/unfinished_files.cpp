#include "platform/files/unfinished_files.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace tovi::platform {

namespace {

// The temporary files of the writers at work, for removal from a signal
// handler: fixed storage, and a state per slot so that the handler never reads
// a name that is being filled in or taken out. Constant-initialised, so that
// it costs nothing at start-up: the names take 4 MB, but a page of them is
// only touched when a writer fills a slot in it, and the handler reads the
// states alone.
class UnfinishedFiles {
public:
    // As many as a run may have writers at once (tovi-batch's most jobs).
    static constexpr int kSlots = 1024;

    int add(const std::string &name) noexcept
    {
        if (name.size() >= sizeof m_names[0])
            return -1;
        for (int i = 0; i < kSlots; ++i) {
            int expected = kFree;
            if (m_states[i].compare_exchange_strong(expected, kBusy)) {
                std::memcpy(m_names[i], name.c_str(), name.size() + 1);
                m_states[i].store(kReady);
                return i;
            }
        }
        return -1;
    }

    void remove(int slot) noexcept
    {
        if (slot >= 0)
            m_states[slot].store(kFree);
    }

    void unlinkAll() noexcept
    {
        for (int i = 0; i < kSlots; ++i) {
            int expected = kReady;
            if (m_states[i].compare_exchange_strong(expected, kBusy)) {
                ::unlink(m_names[i]);
                m_states[i].store(kFree);
            }
        }
    }

private:
    enum { kFree, kBusy, kReady };
    std::atomic<int> m_states[kSlots] = {};
    char m_names[kSlots][PATH_MAX] = {};
};

constinit UnfinishedFiles g_unfinishedFiles;

void removeUnfinishedFilesAndEnd(int signalNumber)
{
    removeUnfinishedFiles();
    // The handler was installed with SA_RESETHAND: the signal now does what
    // it would have done without us.
    ::raise(signalNumber);
}

}  // namespace

int addUnfinishedFile(const std::string &name) noexcept
{
    return g_unfinishedFiles.add(name);
}

void dropUnfinishedFile(int slot) noexcept
{
    g_unfinishedFiles.remove(slot);
}

void removeUnfinishedFiles() noexcept
{
    g_unfinishedFiles.unlinkAll();
}

void removeUnfinishedFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = removeUnfinishedFilesAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when the program started (nohup, a shell's
        // background job) stays ignored.
        struct sigaction inherited {};
        if (::sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace tovi::platform
