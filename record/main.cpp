// main.cpp: zentrel-record, the recorder that turns one real router session into a router directory.
#include "app/version.h"
#include "platform/posix/posix_loop.h"
#include "record/options.h"
#include "record/recorder.h"
#include "record/router_dir.h"

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    using namespace zentrel;
    std::string error;
    const auto options = record::parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "zentrel-record: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(record::Usage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("zentrel-record %s\n", app::Version);
        return 0;
    }
    if (!record::outputDirUsable(options->out, options->force, error)) {
        std::fprintf(stderr, "zentrel-record: %s\n", error.c_str());
        return 2;
    }
    try {
        platform::PosixLoop loop;
        record::Recorder recorder(loop, *options);
        if (!recorder.start(error)) {
            std::fprintf(stderr, "zentrel-record: %s\n", error.c_str());
            return 2;
        }
        return recorder.run();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "zentrel-record: %s\n", failure.what());
        return 2;
    }
}
