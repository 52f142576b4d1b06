// The disabled lists applied to the live module loggers (the back end's side
// of CFeatureConfig).
#pragma once

#include <windows.h>

#include "FeatureConfig.h"

// When either value changed (ignoring case), applies both to the live module
// loggers. A value that was not read counts as unchanged. Nothing happens
// while the process does not log.
void ApplyDisabledLists(const DisabledListValues& values);
// Reads and applies them, reading nothing while the process does not log.
void ApplyDisabledLists(HKEY key);
// Re-reads the feature mapping file and applies the disabled lists again;
// does nothing before the back end is set up.
void ReloadFeatures();
