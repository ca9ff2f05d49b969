#pragma once

#include "FetchOptions.h"

// Exit code for a command line that cannot be run (the engine's failures use 1 to 11).
inline constexpr int kUsageExitCode = 64;
// Exit code for an HTTP status of 400 or more with --fail.
inline constexpr int kHttpErrorExitCode = 22;

// Runs one request for url; answers the exit code it stands for.
int fetch(const FetchOptions& options, const QString& url, bool toFile);
