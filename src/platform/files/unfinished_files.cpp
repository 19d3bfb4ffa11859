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
// a name that is being filled in or taken out.
class UnfinishedFiles {
public:
    // As many as a run may have writers at once (tovi-batch's most jobs);
    // untouched slots cost no memory.
    static constexpr int kSlots = 1024;

    int add(const std::string &name) noexcept
    {
        if (name.size() >= sizeof(Slot::name))
            return -1;
        for (int i = 0; i < kSlots; ++i) {
            int expected = kFree;
            if (m_slots[i].state.compare_exchange_strong(expected, kBusy)) {
                std::memcpy(m_slots[i].name, name.c_str(), name.size() + 1);
                m_slots[i].state.store(kReady);
                return i;
            }
        }
        return -1;
    }

    void remove(int slot) noexcept
    {
        if (slot >= 0)
            m_slots[slot].state.store(kFree);
    }

    void unlinkAll() noexcept
    {
        for (auto &slot : m_slots) {
            int expected = kReady;
            if (slot.state.compare_exchange_strong(expected, kBusy)) {
                ::unlink(slot.name);
                slot.state.store(kFree);
            }
        }
    }

private:
    enum { kFree, kBusy, kReady };
    struct Slot {
        std::atomic<int> state{kFree};
        char name[PATH_MAX];
    };
    Slot m_slots[kSlots];
};

UnfinishedFiles g_unfinishedFiles;

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
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace tovi::platform
