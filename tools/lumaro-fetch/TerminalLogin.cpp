#include "TerminalLogin.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "http/LoginTexts.h"

namespace {

// The controlling terminal, opened for reading and writing: prompts go there, not to
// standard output, which may be a file.
struct Terminal {
    Terminal() : file(std::fopen("/dev/tty", "r+")) {}
    ~Terminal() {
        if (file != nullptr) std::fclose(file);
    }
    std::FILE* file;
};

std::optional<QString> readLine(std::FILE* in) {
    std::string line;
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
        // A login is short; a runaway input is cut rather than grown without end.
        if (line.size() < 4096) line.push_back(static_cast<char>(c));
    }
    if (std::feof(in) && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromStdString(line);
}

std::optional<QString> ask(Terminal& terminal, const QString& prompt, bool hidden) {
    if (terminal.file == nullptr) return std::nullopt;
    std::fputs(qPrintable(prompt), terminal.file);
    std::fflush(terminal.file);
    const int fd = fileno(terminal.file);
    termios saved{};
    const bool canHide = hidden && tcgetattr(fd, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSANOW, &quiet);
    }
    std::optional<QString> line = readLine(terminal.file);
    if (canHide) {
        tcsetattr(fd, TCSANOW, &saved);
        std::fputc('\n', terminal.file);
    }
    return line;
}

}  // namespace

bool standardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<QString> readHiddenLine(const QString& prompt) {
    Terminal terminal;
    return ask(terminal, prompt, true);
}

std::optional<TerminalLogin> askOnTerminal(const http::HTTPRequest& request, bool proxy) {
    namespace texts = http::login_texts;
    Terminal terminal;
    if (terminal.file == nullptr) return std::nullopt;
    QString banner =
        texts::prompt(proxy) + QLatin1Char('\n') + texts::title(request, proxy) + QLatin1Char('\n');
    if (!texts::realm(request, proxy).isEmpty()) {
        banner += texts::realm(request, proxy) + QLatin1Char('\n');
    }
    banner += texts::footer(request, proxy) + QLatin1Char('\n');
    std::fputs(qPrintable(banner), terminal.file);
    std::optional<QString> user = ask(terminal, texts::userPlaceholder() + ": ", false);
    if (!user) return std::nullopt;
    std::optional<QString> password = ask(terminal, texts::passwordPlaceholder() + ": ", true);
    if (!password) return std::nullopt;
    return TerminalLogin{*user, *password};
}
