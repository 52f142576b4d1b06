// Clocks: GetTickCount and GetLocalTime.
#include <windows.h>

#include <time.h>
#include <unistd.h>

extern "C" {

// Tests may replace the clock; a relaxed load keeps the real path cheap.
NL_TICK_SOURCE NlTickSourceForTesting = nullptr;

void NlSetTickSourceForTesting(NL_TICK_SOURCE source) {
    __atomic_store_n(&NlTickSourceForTesting, source, __ATOMIC_RELAXED);
}

void GetLocalTime(LPSYSTEMTIME out) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    out->wYear = static_cast<WORD>(local.tm_year + 1900);
    out->wMonth = static_cast<WORD>(local.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    out->wDay = static_cast<WORD>(local.tm_mday);
    out->wHour = static_cast<WORD>(local.tm_hour);
    out->wMinute = static_cast<WORD>(local.tm_min);
    out->wSecond = static_cast<WORD>(local.tm_sec);
    out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

void Sleep(DWORD milliseconds) {
    struct timespec delay = {static_cast<time_t>(milliseconds / 1000),
                             static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

}  // extern "C"
