#pragma once

#include <QString>

#include "FetchOptions.h"
#include "http/HTTPRequest.h"

// Exit code for a --cache directory that cannot be made or emptied.
inline constexpr int kCacheExitCode = 73;

// Opens the --cache directory (once a run) and sets the request's cache settings. Answers
// 0, or kCacheExitCode after printing why the cache cannot be used.
int configureCache(http::HTTPRequest& request, const FetchOptions& options);

// With a cache the body always goes through a file, which the cache can keep and a cached
// answer can come from: the -o file itself, or a private spool file for standard output
// and devices (its path in *spool). Answers 0 or a usage failure's code.
int directCachedOutput(http::HTTPRequest& request, const FetchOptions& options, bool toFile,
                       QString* spool);
// Puts the body where it belongs once the request has ended (the cache's copy when the
// answer came from it) and removes the spool file. Answers 0 or the code of a write failure.
int finishCachedOutput(http::HTTPRequest& request, const FetchOptions& options, bool toFile,
                       const QString& spool);
// A cached answer meant for the -o file is a file of the cache's: copies it there. Answers
// 0 or the code of a write failure.
int placeCachedDownload(const http::HTTPRequest& request, const FetchOptions& options);
