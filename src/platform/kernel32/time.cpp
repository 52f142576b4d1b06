// Clocks: GetTickCount and GetLocalTime.
#include <windows.h>

#include <time.h>
#include <unistd.h>

namespace {

ULONGLONG CoarseMonotonicMilliseconds() {
    struct timespec now;
    // The coarse clock ticks every few milliseconds, like the Windows timer,
    // and costs a fraction of the precise one.
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

}  // namespace

extern "C" {

ULONGLONG GetTickCount64(void) { return CoarseMonotonicMilliseconds(); }

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
