// Requests that other processes leave for this one as files.
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {

// In a folder with the sticky bit (/tmp), nobody but the file's owner and
// root can remove or replace the file between the look and the removal.
BOOL NlTakeRequestFile(LPCSTR path) {
    struct stat st {};
    if (!path || lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return FALSE;
    return unlink(path) == 0;
}

}  // extern "C"
