#pragma once

#include <QString>
#include <optional>

#include "http/HTTPRequest.h"

struct TerminalLogin {
    QString user;
    QString password;
};

bool standardInputIsTerminal();
// Reads one line from the terminal without showing it; none when there is no terminal or it
// closes.
std::optional<QString> readHiddenLine(const QString& prompt);
// Asks on the terminal for the login the request's server (or proxy) wants, with the words of
// the login dialog; none when the terminal gives nothing.
std::optional<TerminalLogin> askOnTerminal(const http::HTTPRequest& request, bool proxy);
