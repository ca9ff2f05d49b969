#pragma once

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <optional>

#include "FetchOptions.h"
#include "http/HTTPRequest.h"

// Exit code for a command line that cannot be run (the engine's failures use 1 to 11).
inline constexpr int kUsageExitCode = 64;
// Exit code for an HTTP status of 400 or more with --fail.
inline constexpr int kHttpErrorExitCode = 22;

// Sets up what every request of the run shares: the cookie jar (-b, -c) and --noproxy.
// Answers 0, or the exit code of a usage failure it printed.
int prepareSession(const FetchOptions& options);
// Writes the -c jar; answers 0 or the exit code of the failure it printed.
int finishSession(const FetchOptions& options);
// Runs one request for url; answers the exit code it stands for.
int fetch(const FetchOptions& options, const QString& url, bool toFile);
// Runs every URL on one request queue; answers the exit code of the first failure.
int fetchInParallel(const FetchOptions& options);

// ---- Pieces both ways of running share ----

// The request for url with its body: a form request for -F and --data-urlencode.
http::HTTPRequestPtr makeRequest(const FetchOptions& options, const QString& url);
// Applies the remaining settings; answers 0, or the exit code of a usage failure it printed.
int configureRequest(http::HTTPRequest& request, const FetchOptions& options);
// Sends the body to the -o file (toFile), to standard output as it arrives
// (bodyToStandardOutput), or leaves it in the request. Answers 0 or a usage failure's code.
int directOutput(http::HTTPRequest& request, const FetchOptions& options, bool toFile,
                 std::optional<QFile>& stream, bool bodyToStandardOutput);
// Prints -w and the failure, if any; answers the exit code the transfer stands for.
int reportTransfer(const http::HTTPRequest& request, const FetchOptions& options, double seconds,
                   quint64 connections, bool quietFailure);
void writeOut(std::FILE* stream, const QByteArray& bytes);
// The response head as curl prints it, each line after prefix.
QByteArray headBlock(const http::HTTPRequest& request, const QString& prefix);
// The request head as -v prints it.
QByteArray requestBlock(const http::HTTPRequest& request);
