#pragma once

#include <optional>
#include <string>
#include <vector>

namespace share {

struct ServiceOptions {
    std::string host = "127.0.0.1";
    int port = 8088;
    std::string dataDir;    // default: $XDG_DATA_HOME/lumaro-share
    std::string publicUrl;  // default: http://HOST:PORT
    bool help = false;
};

// Parses the command line (without the program name); on a bad argument
// returns nothing and sets error to one line naming it.
std::optional<ServiceOptions> parseServiceOptions(const std::vector<std::string>& args,
                                                  std::string* error);

std::string serviceUsage();

}  // namespace share
