// Where a Windows program reports to the event log, a Linux one sends to
// systemd's journal: one structured entry per call, through libsystemd.
#include <sys/stat.h>
#include <sys/uio.h>
// The entry carries the caller's location fields, not this file's.
#define SD_JOURNAL_SUPPRESS_LOCATION 1
#include <systemd/sd-journal.h>

#include <cerrno>

#include <windows.h>

namespace {
// sd_journal_sendv sends here and says nothing when nobody listens.
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
constexpr int kMostFields = 64;
}  // namespace

extern "C" {

BOOL NlJournalIsListening(void) {
    struct stat status;
    return stat(kJournalSocket, &status) == 0 && S_ISSOCK(status.st_mode);
}

int NlJournalSend(const NL_JOURNAL_FIELD* fields, int count) {
    if (!fields || count <= 0 || count > kMostFields) return -EINVAL;
    struct iovec vectors[kMostFields];
    for (int i = 0; i < count; ++i) vectors[i] = {const_cast<void*>(fields[i].data), fields[i].length};
    return sd_journal_sendv(vectors, count);
}

}  // extern "C"
