#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for.
struct ReachOptions {
    enum class Target { HostName, Address, Internet, LocalWiFi };
    Target target = Target::HostName;
    QString text;  // the host name or the dotted address
    bool watch = false;
    int count = 0;  // change lines to print before stopping; 0: until a signal
    bool help = false;
};

inline constexpr int kUsageExitCode = 64;

inline constexpr char kReachUsage[] =
    "usage: lumaro-reach [--watch] [--count N] TARGET\n"
    "TARGET: a host name, a dotted IPv4 address, --internet or --wifi\n";

// Parses argv; on a usage error answers none and sets *problem.
std::optional<ReachOptions> parseReachOptions(const QStringList& arguments, QString* problem);
