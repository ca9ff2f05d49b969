// lumaro-share-service: the picture-sharing service Lumaro uploads to.

#include <signal.h>

#include <cstdio>
#include <exception>
#include <thread>

#include "ServiceOptions.h"
#include "ShareService.h"
#include "SqliteShareStore.h"

int main(int argc, char** argv) {
    std::string error;
    const auto options =
        share::parseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::fprintf(stderr, "lumaro-share-service: %s (see --help)\n", error.c_str());
        return 64;
    }
    if (options->help) {
        std::fputs(share::serviceUsage().c_str(), stdout);
        return 0;
    }

    // Termination signals are taken by one thread of their own, which stops
    // the server so that requests in flight finish.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        share::SqliteShareStore store(options->dataDir);
        share::ShareService service(store, options->publicUrl);
        service.server().set_logger([](const httplib::Request& q, const httplib::Response& r) {
            std::printf("%s %s %d\n", q.method.c_str(), q.path.c_str(), r.status);
            std::fflush(stdout);
        });
        if (service.bind(options->host, options->port) < 0) {
            std::fprintf(stderr, "lumaro-share-service: cannot listen on %s:%d\n",
                         options->host.c_str(), options->port);
            return 1;
        }
        std::printf("lumaro-share-service: listening on %s:%d, links start with %s, data in %s\n",
                    options->host.c_str(), options->port, service.publicUrl().c_str(),
                    options->dataDir.c_str());
        std::fflush(stdout);
        std::thread stopper([&] {
            int received = 0;
            sigwait(&signals, &received);
            service.stop();
        });
        service.listen();
        stopper.detach();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumaro-share-service: %s\n", e.what());
        return 1;
    }
}
