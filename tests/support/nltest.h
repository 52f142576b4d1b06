// The one include of every test: the standard and POSIX headers the cases
// use, GoogleTest, the platform layer and the library's interface, and the
// shared test support (a private world per case, case tables, the log
// reader, transcripts, the debug-output listener, CIB files, processes that
// log, the probe). The two the benchmarks share, thread_memory.h and
// debug_listener.h, include what they use themselves.
#pragma once

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <locale.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utilDebug.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_env.h"
#include "vectors.h"
#include "log_reader.h"
#include "transcript.h"
#include "debug_listener.h"
#include "cib_file.h"
#include "logging_process.h"
#include "thread_memory.h"
#ifdef LOG_PROBE_PATH
#include "probe.h"
#endif
