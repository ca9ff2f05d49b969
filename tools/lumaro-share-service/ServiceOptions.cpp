#include "ServiceOptions.h"

#include <charconv>
#include <cstdlib>

namespace share {
namespace {

std::string defaultDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return std::string(xdg) + "/lumaro-share";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/lumaro-share";
}

// HOST:PORT, with an IPv6 host in brackets ([::1]:8088).
bool parseListen(const std::string& text, ServiceOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;
    }
    const std::string portText = text.substr(colon + 1);
    int port = -1;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535) {
        return false;
    }
    options.host = host;
    options.port = port;
    return true;
}

}  // namespace

std::optional<ServiceOptions> parseServiceOptions(const std::vector<std::string>& args,
                                                  std::string* error) {
    ServiceOptions options;
    auto fail = [&](const std::string& message) {
        if (error) *error = message;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg != "--listen" && arg != "--data" && arg != "--public-url") {
            return fail("unknown argument \"" + arg + "\"");
        }
        if (i + 1 >= args.size()) return fail(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--listen") {
            if (!parseListen(value, options)) {
                return fail("--listen takes HOST:PORT, not \"" + value + "\"");
            }
        } else if (arg == "--data") {
            if (value.empty()) return fail("--data needs a folder");
            options.dataDir = value;
        } else {
            if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0) {
                return fail("--public-url takes an http:// or https:// address, not \"" + value +
                            "\"");
            }
            options.publicUrl = value;
        }
    }
    if (options.dataDir.empty()) options.dataDir = defaultDataDir();
    if (options.publicUrl.empty()) {
        const bool v6 = options.host.find(':') != std::string::npos;
        options.publicUrl = "http://" + (v6 ? "[" + options.host + "]" : options.host) + ":" +
                            std::to_string(options.port);
    }
    return options;
}

std::string serviceUsage() {
    return "lumaro-share-service [--listen HOST:PORT] [--data DIR] [--public-url URL]\n"
           "  --listen HOST:PORT   where to accept connections (default 127.0.0.1:8088)\n"
           "  --data DIR           records and pictures (default $XDG_DATA_HOME/lumaro-share)\n"
           "  --public-url URL     what links start with (default http://HOST:PORT)\n";
}

}  // namespace share
